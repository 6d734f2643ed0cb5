// Windows has no fork: work that may crash or hang is done by a second copy
// of the program, started with CreateProcess and an internal command line,
// which reports on its standard output. Here is the parent's side: start the
// child, collect what it writes, end it at a time limit or on request, and
// tell a clean exit from a crash.
#ifndef VXHOST_CHILDPROCESSWINDOWS_H
#define VXHOST_CHILDPROCESSWINDOWS_H

#if defined(_WIN32)

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vxhost {

struct ChildOutcome {
    bool started = false;
    std::string start_error;  // why it did not start
    bool timed_out = false;
    bool stopped = false;    // ended because `stop` asked
    uint32_t exit_code = 0;  // an exception code such as 0xC0000005 after a crash
    std::string out;         // its standard output
    std::string err;         // its standard error, the first megabyte
    double seconds = 0.0;
};

// The path of the running program.
std::string OwnProgramPath();

// `arguments[0]` is the program. Waits until the child ends, `time_limit`
// seconds pass (it is then terminated) or `stop` answers true.
ChildOutcome RunChildProcess(const std::vector<std::string>& arguments, double time_limit,
                             const std::function<bool()>& stop = nullptr);

// "exit status 3", "exception 0xC0000005 (access violation)".
std::string DescribeExitCode(uint32_t code);

// Quoted the way the C runtime splits a command line back into arguments.
std::string QuoteArgument(const std::string& argument);

// A child that crashes shows no error dialog, which would wait for a click
// that never comes; called at the start of every child.
void SuppressErrorDialogs();

}  // namespace vxhost

#endif  // _WIN32

#endif  // VXHOST_CHILDPROCESSWINDOWS_H
