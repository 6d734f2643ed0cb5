// The one kind of failure the host reports to its user: a sentence that
// names what is wrong, fit to be printed on one line.
#ifndef VXHOST_HOSTERROR_H
#define VXHOST_HOSTERROR_H

#include <stdexcept>
#include <string>

namespace vxhost {

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vxhost

#endif  // VXHOST_HOSTERROR_H
