// Where a render's file goes, and how it gets there without damage.
//
// A regular file (or a name that does not exist yet) is written to a
// temporary file beside it, which replaces it only once complete, so a failed
// or interrupted run leaves the old file as it was and no partial file. A
// symbolic link is followed and its target written the same way; the link
// stays. What is not a regular file (a device such as /dev/null, a named
// pipe, standard output given as "-") is never replaced: it is opened and
// written front to back as the samples come.
#ifndef VXHOST_TOOL_OUTPUTTARGET_H
#define VXHOST_TOOL_OUTPUTTARGET_H

#include <cstdint>
#include <string>

namespace vxhost {

class OutputTarget {
public:
    // HostError when the target cannot be written; the name "-" is standard output.
    explicit OutputTarget(const std::string& name);
    ~OutputTarget();  // closes; removes the temporary file unless committed
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    const std::string& Name() const { return m_name; }
    int Descriptor() const { return m_fd; }
    // Written in place (device, pipe, standard output) rather than replaced.
    bool InPlace() const { return m_temp.empty(); }
    // Whether the writer may go back to finish a header.
    bool Seekable() const { return m_seekable; }
    // Bytes free where a replaced file goes; -1 when unknown or written in place.
    int64_t FreeBytes() const;
    // Makes the written file the target (a no-op for what is written in place).
    void Commit();

private:
    std::string m_name;
    std::string m_final;  // the file that is replaced, links followed
    std::string m_temp;   // empty when written in place
    int m_fd = -1;
    bool m_owns_fd = true;
    bool m_seekable = false;
    bool m_committed = false;
};

// A whole text file written through an OutputTarget and committed.
void WriteTextFile(const std::string& path, const std::string& text);

}  // namespace vxhost

#endif  // VXHOST_TOOL_OUTPUTTARGET_H
