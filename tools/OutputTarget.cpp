#include "OutputTarget.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HostError.h"
#include "Interrupts.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace vxhost {

#if defined(_WIN32)

namespace {

[[noreturn]] void Fail(const std::string& name, const std::string& reason) {
    throw HostError("cannot write " + name + ": " + reason);
}

std::string LastErrorText() {
    char* text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text != nullptr ? text : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

}  // namespace

// Windows has no links to follow here nor named pipes in the file system:
// a device name (NUL, CON) is written in place, anything else is replaced
// once complete.
OutputTarget::OutputTarget(const std::string& name) : m_name(name) {
    if (name.empty()) throw HostError("no output file given");
    if (name == "-") {
        m_fd = _fileno(stdout);
        m_owns_fd = false;
        _setmode(m_fd, _O_BINARY);
        m_seekable = _lseeki64(m_fd, 0, SEEK_CUR) >= 0 &&
                     GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(m_fd))) == FILE_TYPE_DISK;
        return;
    }
    m_final = name;
    struct _stat64 info {};
    const bool exists = _stat64(name.c_str(), &info) == 0;
    if (exists && (info.st_mode & _S_IFDIR) != 0) Fail(name, "it is a folder");
    if (exists && (info.st_mode & _S_IFREG) == 0) {
        m_fd = _open(name.c_str(), _O_WRONLY | _O_BINARY);
        if (m_fd < 0) Fail(name, std::strerror(errno));
        m_seekable = false;
        return;
    }
    const size_t slash = name.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    m_temp = folder + "." + base + "." + std::to_string(_getpid()) + ".part";
    m_fd = _open(m_temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (m_fd < 0) Fail(name, std::strerror(errno));
    SetUnfinishedFile(m_temp);
    m_seekable = true;
}

OutputTarget::~OutputTarget() {
    if (m_fd >= 0 && m_owns_fd) _close(m_fd);
    if (!m_temp.empty() && !m_committed) {
        _unlink(m_temp.c_str());
        SetUnfinishedFile("");
    }
}

int64_t OutputTarget::FreeBytes() const {
    if (m_temp.empty()) return -1;
    const size_t slash = m_temp.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : m_temp.substr(0, slash + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                  : static_cast<int64_t>(available.QuadPart);
}

void OutputTarget::Commit() {
    if (m_temp.empty()) {
        m_committed = true;
        return;
    }
    if (_commit(m_fd) != 0) Fail(m_name, std::strerror(errno));
    if (_close(m_fd) != 0) {
        m_fd = -1;
        Fail(m_name, std::strerror(errno));
    }
    m_fd = -1;
    if (!MoveFileExA(m_temp.c_str(), m_final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail(m_name, LastErrorText());
    m_committed = true;
    SetUnfinishedFile("");
}

#else

namespace {

// The links a target may pass through before we call it a loop, as the kernel does.
constexpr int kMostLinks = 40;

[[noreturn]] void Fail(const std::string& name, const std::string& reason) {
    throw HostError("cannot write " + name + ": " + reason);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Follows symbolic links to the file they finally name, which need not exist yet.
std::string FollowLinks(const std::string& name) {
    std::string path = name;
    for (int i = 0; i < kMostLinks; ++i) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(4096, '\0');
        const ssize_t n = readlink(path.c_str(), &target[0], target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) Fail(name, std::strerror(errno));
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' || path.find('/') == std::string::npos ? target : FolderOf(path) + target;
    }
    Fail(name, "too many levels of symbolic links");
}

}  // namespace

OutputTarget::OutputTarget(const std::string& name) : m_name(name) {
    if (name.empty()) throw HostError("no output file given");
    if (name == "-") {
        m_fd = STDOUT_FILENO;
        m_owns_fd = false;
        m_seekable = lseek(m_fd, 0, SEEK_CUR) >= 0;
        return;
    }
    m_final = FollowLinks(name);
    struct stat info {};
    const bool exists = stat(m_final.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) Fail(name, "it is a folder");
    if (exists && !S_ISREG(info.st_mode)) {
        // Opening a named pipe waits for its reader; a signal ends the wait.
        do {
            m_fd = open(m_final.c_str(), O_WRONLY | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR && !Interrupted());
        if (m_fd < 0) Fail(name, Interrupted() ? "interrupted" : std::strerror(errno));
        m_seekable = lseek(m_fd, 0, SEEK_CUR) >= 0;
        return;
    }
    const std::string folder = FolderOf(m_final);
    const size_t slash = m_final.find_last_of('/');
    const std::string base = slash == std::string::npos ? m_final : m_final.substr(slash + 1);
    m_temp = (slash == std::string::npos ? "./" : folder) + "." + base + "." + std::to_string(getpid()) + ".part";
    // A replaced file keeps its permissions; a new one gets the usual ones.
    const mode_t mode = exists ? (info.st_mode & 07777) : 0666;
    m_fd = open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (m_fd < 0) Fail(name, std::strerror(errno));
    if (exists) fchmod(m_fd, mode);
    SetUnfinishedFile(m_temp);
    m_seekable = true;
}

OutputTarget::~OutputTarget() {
    if (m_fd >= 0 && m_owns_fd) close(m_fd);
    if (!m_temp.empty() && !m_committed) {
        unlink(m_temp.c_str());
        SetUnfinishedFile("");
    }
}

int64_t OutputTarget::FreeBytes() const {
    if (m_temp.empty()) return -1;
    struct statvfs info {};
    if (fstatvfs(m_fd, &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

void OutputTarget::Commit() {
    if (m_temp.empty()) {
        m_committed = true;
        return;
    }
    if (fsync(m_fd) != 0 && errno != EINVAL) Fail(m_name, std::strerror(errno));
    if (close(m_fd) != 0) {
        m_fd = -1;
        Fail(m_name, std::strerror(errno));
    }
    m_fd = -1;
    if (std::rename(m_temp.c_str(), m_final.c_str()) != 0) Fail(m_name, std::strerror(errno));
    m_committed = true;
    SetUnfinishedFile("");
}

#endif

void WriteTextFile(const std::string& path, const std::string& text) {
    OutputTarget file(path);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(file.Descriptor(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR && !Interrupted()) continue;
        if (n < 0) throw HostError("cannot write " + path + ": " + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
    file.Commit();
}

}  // namespace vxhost
