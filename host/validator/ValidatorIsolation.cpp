#include "ValidatorIsolation.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "PluginLibrary.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include "ChildProcessWindows.h"
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#endif

namespace vxhost {

namespace {

// Lines of the child's error stream kept for the report.
constexpr size_t kErrorLinesKept = 3;

// The child tells the parent in lines: "stage TEXT" while it runs, then
// "status NAME", "reason TEXT" lines, and "end".
std::string ReportText(const CheckResult& result) {
    std::string text = "status " + std::string(StatusName(result.status)) + "\n";
    for (const std::string& reason : result.reasons) text += "reason " + reason + "\n";
    return text + "end\n";
}

// Reads the child's lines into `result`; true when the report was complete.
bool ParseReport(const std::string& report, CheckResult* result, std::string* stage) {
    bool finished = false;
    std::stringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("stage ", 0) == 0)
            *stage = line.substr(6);
        else if (line.rfind("status ", 0) == 0)
            ParseStatusName(line.substr(7), &result->status);
        else if (line.rfind("reason ", 0) == 0)
            result->reasons.push_back(line.substr(7));
        else if (line == "end")
            finished = true;
    }
    return finished;
}

std::string LastLines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    std::string out;
    const size_t first = lines.size() > count ? lines.size() - count : 0;
    for (size_t i = first; i < lines.size(); ++i) out += (out.empty() ? "" : " | ") + lines[i];
    return out;
}

// A check whose child did not come back whole: `what` happened, at the stage it had reached.
void MarkCrashed(CheckResult* result, std::string what, const std::string& stage, const std::string& errors) {
    if (!stage.empty()) what += " during: " + stage;
    result->status = CheckStatus::Fail;
    result->reasons.insert(result->reasons.begin(), what);
    const std::string tail = LastLines(errors, kErrorLinesKept);
    if (!tail.empty()) result->reasons.insert(result->reasons.begin() + 1, "its last words: " + tail);
}

std::string TimeLimitText(double time_limit_seconds) {
    std::ostringstream limit;
    limit << time_limit_seconds;
    return "did not finish within " + limit.str() + " s (the plug-in hangs?)";
}

}  // namespace

std::vector<std::string> CheckChildArguments(const std::string& program, const std::string& library,
                                             const CheckContext& context, const std::string& check) {
    return {program, kCheckChildCommand, library, check, std::to_string(context.level), std::to_string(context.seed)};
}

int RunCheckChild(const std::vector<std::string>& arguments) {
#if defined(_WIN32)
    SuppressErrorDialogs();
    // Lines as written: the parent reads "\n", not "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: %s LIBRARY CHECK LEVEL SEED\n", kCheckChildCommand);
        return 2;
    }
    const CheckInfo* check = FindCheck(arguments[1]);
    char* level_end = nullptr;
    char* seed_end = nullptr;
    const long level = std::strtol(arguments[2].c_str(), &level_end, 10);
    const unsigned long long seed = std::strtoull(arguments[3].c_str(), &seed_end, 10);
    if (check == nullptr || *level_end != '\0' || *seed_end != '\0' || level < kLowestLevel || level > kHighestLevel) {
        std::fprintf(stderr, "%s: unusable arguments\n", kCheckChildCommand);
        return 2;
    }
    std::string error;
    const std::unique_ptr<PluginLibrary> library = PluginLibrary::Load(arguments[0], &error);
    CheckResult result;
    if (!library) {
        result.status = CheckStatus::Fail;
        result.reasons.push_back("the plug-in cannot be loaded: " + error);
    } else {
        CheckContext context;
        context.library = library.get();
        context.level = static_cast<int>(level);
        context.seed = seed;
        CheckLog log;
        log.SetStageListener([](const std::string& stage) {
            std::fputs(("stage " + stage + "\n").c_str(), stdout);
            std::fflush(stdout);
        });
        result = RunCheckHere(*check, context, &log);
    }
    std::fputs(ReportText(result).c_str(), stdout);
    std::fflush(stdout);
    // No exit handlers: the plug-in's static objects are not the report's business.
    std::_Exit(0);
}

#if defined(_WIN32)

bool IsolationAvailable() { return false; }

CheckResult RunCheckIsolated(const CheckInfo& check, const CheckContext& context, double,
                             const std::function<bool()>&) {
    return RunCheckHere(check, context);
}

CheckResult RunCheckInProgram(const std::string& program, const CheckInfo& check, const CheckContext& context,
                              double time_limit_seconds, const std::function<bool()>& stop) {
    const ChildOutcome child = RunChildProcess(
        CheckChildArguments(program, context.library->Path(), context, check.name), time_limit_seconds, stop);
    if (!child.started) return RunCheckHere(check, context);
    CheckResult result;
    result.name = check.name;
    result.group = check.group;
    result.seconds = child.seconds;
    std::string stage;
    const bool finished = ParseReport(child.out, &result, &stage);
    if (finished && child.exit_code == 0 && !child.timed_out && !child.stopped) return result;
    const std::string what = child.timed_out
                                 ? TimeLimitText(time_limit_seconds)
                                 : "the plug-in ended the process with " + DescribeExitCode(child.exit_code);
    MarkCrashed(&result, what, stage, child.err);
    return result;
}

#else

namespace {

constexpr size_t kMostCapturedBytes = 1 << 20;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

[[noreturn]] void RunChild(const CheckInfo& check, const CheckContext& context, int report_fd, int error_fd) {
    dup2(error_fd, STDERR_FILENO);
    close(error_fd);
    CheckLog log;
    log.SetStageListener([report_fd](const std::string& stage) { WriteAll(report_fd, "stage " + stage + "\n"); });
    WriteAll(report_fd, ReportText(RunCheckHere(check, context, &log)));
    close(report_fd);
    // No exit handlers: the parent's buffers and the plug-in's static
    // objects are the parent's business.
    _exit(0);
}

std::string SignalText(int signal_number) {
    const char* name = strsignal(signal_number);
    return "signal " + std::to_string(signal_number) + (name != nullptr ? " (" + std::string(name) + ")" : "");
}

bool ReadSome(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) return false;
    if (into.size() < kMostCapturedBytes) into.append(buffer, static_cast<size_t>(n));
    return true;
}

}  // namespace

bool IsolationAvailable() { return true; }

CheckResult RunCheckIsolated(const CheckInfo& check, const CheckContext& context, double time_limit_seconds,
                             const std::function<bool()>& stop) {
    CheckResult result;
    result.name = check.name;
    result.group = check.group;
    int report_pipe[2];
    int error_pipe[2];
    if (pipe(report_pipe) != 0) return RunCheckHere(check, context);
    if (pipe(error_pipe) != 0) {
        close(report_pipe[0]);
        close(report_pipe[1]);
        return RunCheckHere(check, context);
    }
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        for (int fd : {report_pipe[0], report_pipe[1], error_pipe[0], error_pipe[1]}) close(fd);
        return RunCheckHere(check, context);
    }
    if (child == 0) {
        close(report_pipe[0]);
        close(error_pipe[0]);
        RunChild(check, context, report_pipe[1], error_pipe[1]);
    }
    close(report_pipe[1]);
    close(error_pipe[1]);

    std::string report;
    std::string errors;
    bool report_open = true;
    bool errors_open = true;
    bool timed_out = false;
    bool stopped = false;
    const auto deadline = start + std::chrono::duration<double>(time_limit_seconds);
    while (report_open || errors_open) {
        const auto left =
            std::chrono::duration<double, std::milli>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0.0) {
            timed_out = true;
            break;
        }
        if (stop && stop()) {
            stopped = true;
            break;
        }
        pollfd fds[2] = {{report_pipe[0], POLLIN, 0}, {error_pipe[0], POLLIN, 0}};
        // A signal ends the wait early; otherwise look at `stop` a few times a second.
        const int ready = poll(fds, 2, static_cast<int>(std::min(left, 200.0)) + 1);
        if (ready < 0 && errno != EINTR) break;
        if (report_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            report_open = ReadSome(report_pipe[0], report);
        if (errors_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            errors_open = ReadSome(error_pipe[0], errors);
    }
    if (timed_out || stopped) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    close(report_pipe[0]);
    close(error_pipe[0]);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::string stage;
    const bool finished = ParseReport(report, &result, &stage);
    const bool clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (finished && clean_exit && !timed_out) return result;

    std::string what;
    if (timed_out)
        what = TimeLimitText(time_limit_seconds);
    else if (WIFSIGNALED(status))
        what = "the plug-in crashed with " + SignalText(WTERMSIG(status));
    else
        what = "the plug-in ended the process with exit status " + std::to_string(WEXITSTATUS(status));
    MarkCrashed(&result, what, stage, errors);
    return result;
}

CheckResult RunCheckInProgram(const std::string&, const CheckInfo& check, const CheckContext& context,
                              double time_limit_seconds, const std::function<bool()>& stop) {
    return RunCheckIsolated(check, context, time_limit_seconds, stop);
}

#endif

}  // namespace vxhost
