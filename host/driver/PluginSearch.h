// Finding a plug-in by name: the build's own plug-in folder first, then the
// folders listed in VXHOST_PATH. A name with a folder or an extension is a path.
#ifndef VXHOST_PLUGINSEARCH_H
#define VXHOST_PLUGINSEARCH_H

#include <memory>
#include <string>
#include <vector>

#include "PluginLibrary.h"

namespace vxhost {

std::vector<std::string> PluginSearchPath();

// The library's path; HostError naming the folders searched when not found.
std::string LocatePlugin(const std::string& name_or_path);

// Locates and loads; HostError with the loader's one-line reason.
std::shared_ptr<const PluginLibrary> LoadPlugin(const std::string& name_or_path);

}  // namespace vxhost

#endif  // VXHOST_PLUGINSEARCH_H
