// Running a check in a child process, so that a plug-in that crashes, trips
// an assertion or hangs becomes a FAIL report instead of taking the
// validator down. POSIX systems only; elsewhere checks run in the
// validator's own process.
#ifndef VXHOST_VALIDATORISOLATION_H
#define VXHOST_VALIDATORISOLATION_H

#include <functional>

#include "Validator.h"

namespace vxhost {

bool IsolationAvailable();

// The check in a child process, stopped after `time_limit_seconds`. The
// reasons of a crash name the signal or exit status, the step the check was
// at, and the last lines the child wrote to its error stream (where
// assertion and sanitizer messages go). When `stop` answers true the child is
// ended and the result is meaningless.
CheckResult RunCheckIsolated(const CheckInfo& check, const CheckContext& context, double time_limit_seconds,
                             const std::function<bool()>& stop = nullptr);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORISOLATION_H
