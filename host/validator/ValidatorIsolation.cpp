#include "ValidatorIsolation.h"

#if defined(_WIN32)

namespace vxhost {

bool IsolationAvailable() { return false; }

CheckResult RunCheckIsolated(const CheckInfo& check, const CheckContext& context, double,
                             const std::function<bool()>&) {
    return RunCheckHere(check, context);
}

}  // namespace vxhost

#else

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace vxhost {

namespace {

// Lines of the child's error stream kept for the report.
constexpr size_t kErrorLinesKept = 3;
constexpr size_t kMostCapturedBytes = 1 << 20;

// The child tells the parent on one pipe: "stage TEXT" lines while it runs,
// then "status NAME", "reason TEXT" lines, and "end".
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
    const CheckResult result = RunCheckHere(check, context, &log);
    std::string text = "status " + std::string(StatusName(result.status)) + "\n";
    for (const std::string& reason : result.reasons) text += "reason " + reason + "\n";
    text += "end\n";
    WriteAll(report_fd, text);
    close(report_fd);
    // No exit handlers: the parent's buffers and the plug-in's static
    // objects are the parent's business.
    _exit(0);
}

std::string SignalText(int signal_number) {
    const char* name = strsignal(signal_number);
    return "signal " + std::to_string(signal_number) + (name != nullptr ? " (" + std::string(name) + ")" : "");
}

std::string LastLines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    std::string out;
    const size_t first = lines.size() > count ? lines.size() - count : 0;
    for (size_t i = first; i < lines.size(); ++i) out += (out.empty() ? "" : " | ") + lines[i];
    return out;
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
    bool finished = false;
    std::stringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("stage ", 0) == 0)
            stage = line.substr(6);
        else if (line.rfind("status ", 0) == 0)
            ParseStatusName(line.substr(7), &result.status);
        else if (line.rfind("reason ", 0) == 0)
            result.reasons.push_back(line.substr(7));
        else if (line == "end")
            finished = true;
    }
    const bool clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (finished && clean_exit && !timed_out) return result;

    std::string what;
    if (timed_out) {
        std::ostringstream limit;
        limit << time_limit_seconds;
        what = "did not finish within " + limit.str() + " s (the plug-in hangs?)";
    } else if (WIFSIGNALED(status)) {
        what = "the plug-in crashed with " + SignalText(WTERMSIG(status));
    } else {
        what = "the plug-in ended the process with exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (!stage.empty()) what += " during: " + stage;
    result.status = CheckStatus::Fail;
    result.reasons.insert(result.reasons.begin(), what);
    const std::string tail = LastLines(errors, kErrorLinesKept);
    if (!tail.empty()) result.reasons.insert(result.reasons.begin() + 1, "its last words: " + tail);
    return result;
}

}  // namespace vxhost

#endif
