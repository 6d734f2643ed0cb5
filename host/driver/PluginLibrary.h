// A loaded plug-in library and its two exported functions.
#ifndef VXHOST_PLUGINLIBRARY_H
#define VXHOST_PLUGINLIBRARY_H

#include <memory>
#include <string>

#include "VXHostAbi.h"

namespace vxhost {

class PluginLibrary {
public:
    // Loads the library at `path` (dlopen, or LoadLibrary on Windows) and
    // finds both entry points. Null with a one-line reason in `error` when
    // the file cannot be loaded or lacks either function.
    static std::unique_ptr<PluginLibrary> Load(const std::string& path, std::string* error);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& Path() const { return m_path; }
    VXGetModulePropertiesFunction GetModuleProperties() const { return m_get_module_properties; }
    VXMakeModuleFunction MakeModule() const { return m_make_module; }
    // The dlopen handle, or the HMODULE on Windows.
    void* NativeHandle() const { return m_handle; }

private:
    PluginLibrary() = default;
    std::string m_path;
    void* m_handle = nullptr;
    VXGetModulePropertiesFunction m_get_module_properties = nullptr;
    VXMakeModuleFunction m_make_module = nullptr;
};

// The file name a plug-in called `name` has on this platform ("x.so", "x.dll").
std::string PluginFileName(const std::string& name);

}  // namespace vxhost

#endif  // VXHOST_PLUGINLIBRARY_H
