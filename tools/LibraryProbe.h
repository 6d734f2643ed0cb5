// A damaged or hostile library can crash the process that loads it (a
// truncated file gives a bus error inside the system's loader) or hang in its
// start-up code. Before the tool loads a plug-in for real, a child process
// loads it and reads its description; only if the child comes back whole does
// the tool load it itself.
#ifndef VXHOST_TOOL_LIBRARYPROBE_H
#define VXHOST_TOOL_LIBRARYPROBE_H

#include <memory>
#include <string>

#include "PluginLibrary.h"

namespace vxhost {

// LoadPlugin after a probe in a child process: HostError, never a crash, for
// a library that crashes or hangs while loading or describing itself.
std::shared_ptr<const PluginLibrary> LoadPluginSafely(const std::string& name);

}  // namespace vxhost

#endif  // VXHOST_TOOL_LIBRARYPROBE_H
