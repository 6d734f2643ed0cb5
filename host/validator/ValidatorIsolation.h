// Running a check in a child process, so that a plug-in that crashes, trips
// an assertion or hangs becomes a FAIL report instead of taking the
// validator down. POSIX systems fork; Windows starts a program that answers
// the internal check command (vxhost does), or else runs checks in the
// validator's own process.
#ifndef VXHOST_VALIDATORISOLATION_H
#define VXHOST_VALIDATORISOLATION_H

#include <functional>
#include <string>
#include <vector>

#include "Validator.h"

namespace vxhost {

// Whether RunCheckIsolated forks (POSIX systems).
bool IsolationAvailable();

// The check in a child process, stopped after `time_limit_seconds`. The
// reasons of a crash name the signal or exit status, the step the check was
// at, and the last lines the child wrote to its error stream (where
// assertion and sanitizer messages go). When `stop` answers true the child is
// ended and the result is meaningless.
CheckResult RunCheckIsolated(const CheckInfo& check, const CheckContext& context, double time_limit_seconds,
                             const std::function<bool()>& stop = nullptr);

// The internal command line that runs one check in a program of its own:
// PROGRAM __check LIBRARY CHECK LEVEL SEED. Not meant for people.
constexpr const char* kCheckChildCommand = "__check";
std::vector<std::string> CheckChildArguments(const std::string& program, const std::string& library,
                                             const CheckContext& context, const std::string& check);

// The same as RunCheckIsolated, the check run by `program` started with
// CheckChildArguments. An exit code other than 0 (an access violation is
// 0xC0000005) fails the check. Where processes cannot be started this way
// (anything but Windows) the check runs in this process.
CheckResult RunCheckInProgram(const std::string& program, const CheckInfo& check, const CheckContext& context,
                              double time_limit_seconds, const std::function<bool()>& stop = nullptr);

// The child's side, given the arguments after the command: loads the
// library, runs the check and writes the report to standard output. Its
// exit status: 0 when the report is complete, 2 for arguments it cannot use.
int RunCheckChild(const std::vector<std::string>& arguments);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORISOLATION_H
