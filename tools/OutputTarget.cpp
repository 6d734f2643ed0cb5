#include "OutputTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "HostError.h"
#include "Interrupts.h"

namespace vxhost {

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

}  // namespace vxhost
