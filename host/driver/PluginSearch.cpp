#include "PluginSearch.h"

#include <cstdlib>
#include <fstream>

#include "HostError.h"

namespace vxhost {

namespace {

#if defined(_WIN32)
constexpr char kListSeparator = ';';
#else
constexpr char kListSeparator = ':';
#endif

// Anything but a bare name is a file: "x.so", "./x", "dir/x". A bare name
// ("sumtone") is looked up on the search path.
bool IsPath(const std::string& name) { return name.find_first_of("/\\.") != std::string::npos; }

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace

std::vector<std::string> PluginSearchPath() {
    std::vector<std::string> folders{VX_PLUGIN_DIR};
    const char* list = std::getenv("VXHOST_PATH");
    if (list == nullptr) return folders;
    std::string entry;
    for (const char* c = list;; ++c) {
        if (*c == kListSeparator || *c == '\0') {
            if (!entry.empty()) folders.push_back(entry);
            entry.clear();
            if (*c == '\0') break;
        } else {
            entry += *c;
        }
    }
    return folders;
}

std::string LocatePlugin(const std::string& name) {
    if (name.empty()) throw HostError("no plug-in named");
    if (IsPath(name)) {
        if (!FileExists(name)) throw HostError("no such plug-in file: " + name);
        // The system's loader looks a name without a folder up in its own
        // library path, where another library of that name may be.
        if (name.find_first_of("/\\") == std::string::npos) return "./" + name;
        return name;
    }
    std::string searched;
    for (const std::string& folder : PluginSearchPath()) {
        const std::string candidate = folder + "/" + PluginFileName(name);
        if (FileExists(candidate)) return candidate;
        searched += (searched.empty() ? "" : ", ") + folder;
    }
    throw HostError("plug-in \"" + name + "\" not found (searched " + searched + "; add folders to VXHOST_PATH)");
}

std::shared_ptr<const PluginLibrary> LoadPlugin(const std::string& name) {
    const std::string path = LocatePlugin(name);
    std::string error;
    std::shared_ptr<const PluginLibrary> library = PluginLibrary::Load(path, &error);
    if (!library) throw HostError(error);
    return library;
}

}  // namespace vxhost
