#include "ChildProcessWindows.h"

#if defined(_WIN32)

#include <windows.h>

#include <chrono>
#include <cstdio>

namespace vxhost {

namespace {

constexpr size_t kMostCapturedBytes = 1 << 20;

// Moves whatever the pipe holds into `into` without blocking; false once the
// pipe is closed and empty.
bool Drain(HANDLE pipe, std::string& into) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[4096];
        DWORD got = 0;
        const DWORD want = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) return false;
        if (into.size() < kMostCapturedBytes) into.append(buffer, got);
    }
}

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    bool Open() {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (!CreatePipe(&read, &write, &inherit, 1 << 16)) return false;
        // Only the child's end is inherited.
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        return true;
    }
    void CloseWrite() {
        if (write != nullptr) CloseHandle(write);
        write = nullptr;
    }
    ~Pipe() {
        CloseWrite();
        if (read != nullptr) CloseHandle(read);
    }
};

}  // namespace

std::string OwnProgramPath() {
    std::string path(32768, '\0');
    const DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    return path;
}

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string DescribeExitCode(uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    const char* name = nullptr;
    switch (code) {
        case 0xC0000005u:
            name = "access violation";
            break;
        case 0xC000001Du:
            name = "illegal instruction";
            break;
        case 0xC0000094u:
            name = "integer division by zero";
            break;
        case 0xC00000FDu:
            name = "stack overflow";
            break;
        case 0xC0000409u:
            name = "stack buffer overrun";
            break;
        case 0xC0000374u:
            name = "heap corruption";
            break;
        case 0x80000003u:
            name = "breakpoint";
            break;
        default:
            break;
    }
    if (name != nullptr) return "exception " + std::string(hex) + " (" + name + ")";
    if (code >= 0xC0000000u) return "exception " + std::string(hex);
    return "exit status " + std::to_string(code);
}

void SuppressErrorDialogs() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX); }

ChildOutcome RunChildProcess(const std::vector<std::string>& arguments, double time_limit,
                             const std::function<bool()>& stop) {
    ChildOutcome outcome;
    Pipe out, err;
    if (arguments.empty() || !out.Open() || !err.Open()) {
        outcome.start_error = "cannot make a pipe";
        return outcome;
    }
    std::string command_line;
    for (const std::string& a : arguments) command_line += (command_line.empty() ? "" : " ") + QuoteArgument(a);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    PROCESS_INFORMATION process{};
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    if (!CreateProcessA(arguments[0].c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        outcome.start_error = "cannot start " + arguments[0] + " (error " + std::to_string(GetLastError()) + ")";
        return outcome;
    }
    outcome.started = true;
    CloseHandle(process.hThread);
    // The child holds its own copies; ours would keep the pipes open forever.
    out.CloseWrite();
    err.CloseWrite();
    const auto deadline = start + std::chrono::duration<double>(time_limit);
    for (;;) {
        const DWORD waited = WaitForSingleObject(process.hProcess, 20);
        Drain(out.read, outcome.out);
        Drain(err.read, outcome.err);
        if (waited == WAIT_OBJECT_0) break;
        const bool late = std::chrono::steady_clock::now() >= deadline;
        const bool asked = !late && stop && stop();
        if (late || asked) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            outcome.timed_out = late;
            outcome.stopped = asked;
            break;
        }
    }
    // What the child wrote just before it ended.
    Drain(out.read, outcome.out);
    Drain(err.read, outcome.err);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    outcome.exit_code = code;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

}  // namespace vxhost

#endif  // _WIN32
