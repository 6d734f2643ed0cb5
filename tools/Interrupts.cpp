#include "Interrupts.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace vxhost {

namespace {

volatile std::sig_atomic_t g_signal = 0;
// A fixed buffer, so that the handler can read it without allocating.
char g_unfinished[4096] = {0};

void OnSignal(int number) {
    if (g_signal != 0) {
        if (g_unfinished[0] != '\0') unlink(g_unfinished);
        _exit(128 + g_signal);
    }
    g_signal = number;
#if defined(_WIN32)
    // The C runtime there puts the default action back before calling.
    std::signal(number, OnSignal);
#endif
}

}  // namespace

#if defined(_WIN32)
// Ctrl-C and Ctrl-Break reach the process as SIGINT and SIGBREAK; there is no
// SIGHUP, and a full disk or a closed pipe is an error return already.
void CatchInterrupts() {
    for (int number : {SIGINT, SIGTERM, SIGBREAK}) std::signal(number, OnSignal);
}
#else
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a pipe that nobody reads returns
    // with EINTR, so the command notices the signal.
    action.sa_flags = 0;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

bool Interrupted() { return g_signal != 0; }

int InterruptExitStatus() { return g_signal != 0 ? 128 + g_signal : 0; }

void SetUnfinishedFile(const std::string& path) {
    if (path.size() >= sizeof g_unfinished) return;
    g_unfinished[0] = '\0';
    std::memcpy(g_unfinished, path.c_str(), path.size() + 1);
}

}  // namespace vxhost
