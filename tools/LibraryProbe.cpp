#include "LibraryProbe.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "HostError.h"
#include "Interrupts.h"
#include "PluginSearch.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include "ChildProcessWindows.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#endif

namespace vxhost {

namespace {

// Loading and describing a plug-in takes milliseconds; this is for one that never returns.
constexpr int kProbeTimeLimitSeconds = 20;

// One field a line: a backslash and a line break are written as \\ and \n.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

// What the child writes: "loaded", then id, name, about and framework
// version a line each; or "refused" and the loader's reason.
std::string ProbeReport(const std::string& path) {
    std::string error;
    const auto library = PluginLibrary::Load(path, &error);
    if (!library) return "refused\n" + Escaped(error) + "\n";
    const PluginDescription description = DescribePlugin(*library);
    const ModuleProperties& p = description.properties;
    return "loaded\n" + Escaped(p.id) + "\n" + Escaped(p.name) + "\n" + Escaped(p.about) + "\n" +
           std::to_string(p.sdk_version) + "\n";
}

// A report cut short counts as a crash; the caller's reason covers that.
bool ParseProbeReport(const std::string& text, ProbeResult* result) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(Unescaped(line));
    }
    if (lines.size() >= 2 && lines[0] == "refused") {
        result->loadable = false;
        result->reason = lines[1];
        return true;
    }
    if (lines.size() < 5 || lines[0] != "loaded") return false;
    result->loadable = true;
    result->properties.id = lines[1];
    result->properties.name = lines[2];
    result->properties.about = lines[3];
    result->properties.sdk_version = std::atoi(lines[4].c_str());
    return true;
}

const char* const kCrashAdvice = "; is the file damaged?";

#if defined(_WIN32)

ProbeResult ProbeInChild(const std::string& path) {
    ProbeResult result;
    const ChildOutcome child = RunChildProcess({OwnProgramPath(), kProbeChildCommand, path}, kProbeTimeLimitSeconds,
                                               [] { return Interrupted(); });
    if (child.stopped) throw HostError("interrupted");
    if (!child.started) {
        result.loadable = true;  // cannot probe: load as before
        return result;
    }
    if (child.timed_out) {
        result.crashed = true;
        result.reason = "it did not finish loading within " + std::to_string(kProbeTimeLimitSeconds) + " s";
        return result;
    }
    if (child.exit_code != 0 || !ParseProbeReport(child.out, &result)) {
        result.loadable = false;
        result.crashed = true;
        result.reason = "loading it crashes (" + DescribeExitCode(child.exit_code) + ")" + kCrashAdvice;
    }
    return result;
}

#else

std::string SignalName(int number) {
    const char* name = strsignal(number);
    return name != nullptr ? std::string(name) : "signal " + std::to_string(number);
}

ProbeResult ProbeInChild(const std::string& path) {
    ProbeResult result;
    int report[2];
    if (pipe(report) != 0) {
        result.loadable = true;  // cannot probe: load as before
        return result;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        result.loadable = true;
        return result;
    }
    if (child == 0) {
        close(report[0]);
        // The child's complaints are the parent's to make, once.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        std::string text;
        try {
            text = ProbeReport(path);
        } catch (const std::exception& e) {
            text = "refused\n" + Escaped(e.what()) + "\n";
        } catch (...) {}
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = write(report[1], text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(report[1]);
    fcntl(report[0], F_SETFL, fcntl(report[0], F_GETFL) | O_NONBLOCK);
    std::string text;
    const auto read_some = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(report[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kProbeTimeLimitSeconds);
    int status = 0;
    for (;;) {
        read_some();
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            close(report[0]);
            result.loadable = true;
            return result;
        }
        if (Interrupted() || std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
            close(report[0]);
            if (Interrupted()) throw HostError("interrupted");
            result.crashed = true;
            result.reason = "it did not finish loading within " + std::to_string(kProbeTimeLimitSeconds) + " s";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    read_some();
    close(report[0]);
    if (WIFSIGNALED(status)) {
        result.crashed = true;
        result.reason = "loading it crashes (" + SignalName(WTERMSIG(status)) + ")" + kCrashAdvice;
        return result;
    }
    // The child ends with 0 whatever the library says; anything else means a
    // handler (a sanitizer's, say) caught the crash and ended the process.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !ParseProbeReport(text, &result)) {
        result.loadable = false;
        result.crashed = true;
        result.reason = "loading it crashes (the process ended with status " + std::to_string(WEXITSTATUS(status)) +
                        ")" + kCrashAdvice;
    }
    return result;
}

#endif

}  // namespace

ProbeResult ProbeLibrary(const std::string& path) { return ProbeInChild(path); }

int RunProbeChild(const std::vector<std::string>& arguments) {
#if defined(_WIN32)
    SuppressErrorDialogs();
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: %s LIBRARY\n", kProbeChildCommand);
        return 2;
    }
    std::string text;
    try {
        text = ProbeReport(arguments[0]);
    } catch (const std::exception& e) {
        text = "refused\n" + Escaped(e.what()) + "\n";
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

std::shared_ptr<const PluginLibrary> LoadPluginSafely(const std::string& name) {
    const std::string path = LocatePlugin(name);
    const ProbeResult probe = ProbeLibrary(path);
    // A library the loader refuses is refused here too, with the loader's reason.
    if (probe.crashed) throw HostError("cannot load " + path + ": " + probe.reason);
    return LoadPlugin(path);
}

}  // namespace vxhost
