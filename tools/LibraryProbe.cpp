#include "LibraryProbe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HostError.h"
#include "Interrupts.h"
#include "PluginDescription.h"
#include "PluginSearch.h"

namespace vxhost {

namespace {

// Loading and describing a plug-in takes milliseconds; this is for one that never returns.
constexpr auto kProbeTimeLimit = std::chrono::seconds(20);

std::string SignalName(int number) {
    const char* name = strsignal(number);
    return name != nullptr ? std::string(name) : "signal " + std::to_string(number);
}

// Whether the library survives being loaded and described; the reason when not.
bool ProbeInChild(const std::string& path, std::string* reason) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return true;  // cannot probe: load as before
    if (child == 0) {
        // The child's complaints are the parent's to make, once.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        try {
            std::string error;
            const auto library = PluginLibrary::Load(path, &error);
            if (library) DescribePlugin(*library);
        } catch (...) {}
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + kProbeTimeLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return true;
        if (Interrupted() || std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
            if (Interrupted()) throw HostError("interrupted");
            *reason = "it did not finish loading within " + std::to_string(kProbeTimeLimit.count()) + " s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(status)) {
        *reason = "loading it crashes (" + SignalName(WTERMSIG(status)) + "); is the file damaged?";
        return false;
    }
    // A crash handler (a sanitizer's, for one) may turn the signal into an
    // exit; the child exits with 0 only when the library loaded.
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        *reason = "loading it ends the process (exit status " + std::to_string(WEXITSTATUS(status)) +
                  "); is the file damaged?";
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<const PluginLibrary> LoadPluginSafely(const std::string& name) {
    const std::string path = LocatePlugin(name);
    std::string reason;
    if (!ProbeInChild(path, &reason)) throw HostError("cannot load " + path + ": " + reason);
    return LoadPlugin(path);
}

}  // namespace vxhost
