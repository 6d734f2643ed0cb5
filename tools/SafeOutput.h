// Output files appear whole or not at all: everything is written to a
// temporary file beside the target, which replaces the target only once
// complete. A failed or interrupted run leaves nothing behind.
#ifndef VXHOST_TOOL_SAFEOUTPUT_H
#define VXHOST_TOOL_SAFEOUTPUT_H

#include <string>

namespace vxhost {

class PendingFile {
public:
    // HostError when the target's folder does not exist or cannot be written.
    explicit PendingFile(const std::string& target);
    ~PendingFile();  // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& TempPath() const { return m_temp; }
    const std::string& Target() const { return m_target; }
    // Moves the temporary file onto the target.
    void Commit();

private:
    std::string m_target;
    std::string m_temp;
    bool m_committed = false;
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_SAFEOUTPUT_H
