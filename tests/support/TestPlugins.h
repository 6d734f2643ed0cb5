// The plug-ins the build made, from its plug-in folder: each is loaded once
// per test program and stays loaded until the program ends, so records and
// texts a test keeps stay valid.
#ifndef VX_TESTS_SUPPORT_TESTPLUGINS_H
#define VX_TESTS_SUPPORT_TESTPLUGINS_H

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "PluginLibrary.h"

inline std::string BuiltPluginPath(const std::string& name) {
    return std::string(VX_PLUGIN_DIR) + "/" + vxhost::PluginFileName(name);
}

// std::runtime_error with the loader's reason when the plug-in cannot load.
inline std::shared_ptr<const vxhost::PluginLibrary> SharedPlugin(const std::string& name) {
    static std::map<std::string, std::shared_ptr<const vxhost::PluginLibrary>> loaded;
    auto& slot = loaded[name];
    if (!slot) {
        std::string error;
        slot = vxhost::PluginLibrary::Load(BuiltPluginPath(name), &error);
        if (!slot) throw std::runtime_error(error);
    }
    return slot;
}

inline const vxhost::PluginLibrary& TestPlugin(const std::string& name) { return *SharedPlugin(name); }

#endif  // VX_TESTS_SUPPORT_TESTPLUGINS_H
