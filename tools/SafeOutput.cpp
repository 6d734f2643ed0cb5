#include "SafeOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HostError.h"

namespace vxhost {

PendingFile::PendingFile(const std::string& target) : m_target(target) {
    if (target.empty()) throw HostError("no output file given");
    struct stat info {};
    if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw HostError("cannot write " + target + ": it is a folder");
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    m_temp = folder + (slash == std::string::npos ? "/" : "") + "." + name + "." + std::to_string(getpid()) + ".part";
    std::FILE* probe = std::fopen(m_temp.c_str(), "wb");
    if (probe == nullptr) throw HostError("cannot write " + target + ": " + std::strerror(errno));
    std::fclose(probe);
}

PendingFile::~PendingFile() {
    if (!m_committed) std::remove(m_temp.c_str());
}

void PendingFile::Commit() {
    if (std::rename(m_temp.c_str(), m_target.c_str()) != 0)
        throw HostError("cannot write " + m_target + ": " + std::strerror(errno));
    m_committed = true;
}

}  // namespace vxhost
