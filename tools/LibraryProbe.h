// A damaged or hostile library can crash the process that loads it (a
// truncated file gives a bus error inside the system's loader) or hang in its
// start-up code. Before the tool loads a plug-in for real, a child process
// loads it and reads its description; only if the child comes back whole does
// the tool load it itself. POSIX systems fork; Windows starts the tool again
// with the internal probe command.
#ifndef VXHOST_TOOL_LIBRARYPROBE_H
#define VXHOST_TOOL_LIBRARYPROBE_H

#include <memory>
#include <string>
#include <vector>

#include "PluginDescription.h"
#include "PluginLibrary.h"

namespace vxhost {

struct ProbeResult {
    bool loadable = false;
    bool crashed = false;  // it crashed or hung, rather than being refused by the loader
    std::string reason;    // why not, one line
    ModuleProperties properties;
};

// Loads and describes the library at `path` in a child process.
ProbeResult ProbeLibrary(const std::string& path);

// LoadPlugin after a probe in a child process: HostError, never a crash, for
// a library that crashes or hangs while loading or describing itself.
std::shared_ptr<const PluginLibrary> LoadPluginSafely(const std::string& name);

// The internal command that probes in a process of its own: PROGRAM __probe
// LIBRARY. The child's side, given the arguments after the command; writes
// what it found to standard output.
constexpr const char* kProbeChildCommand = "__probe";
int RunProbeChild(const std::vector<std::string>& arguments);

}  // namespace vxhost

#endif  // VXHOST_TOOL_LIBRARYPROBE_H
