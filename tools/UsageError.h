// A mistake in the command line: reported like any failure, but the process
// exits with status 2, as command-line tools do for a wrong invocation.
#ifndef VXHOST_TOOL_USAGEERROR_H
#define VXHOST_TOOL_USAGEERROR_H

#include "HostError.h"

namespace vxhost {

class UsageError : public HostError {
public:
    explicit UsageError(const std::string& message) : HostError(message) {}
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_USAGEERROR_H
