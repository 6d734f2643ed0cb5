#include "PluginLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vxhost {

namespace {

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string* error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(handle);
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* OpenLibrary(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        *error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason");
    }
    return handle;
}
void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void CloseLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    void* handle = OpenLibrary(path, error);
    if (handle == nullptr) return nullptr;
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->m_path = path;
    library->m_handle = handle;
    library->m_get_module_properties =
        reinterpret_cast<VXGetModulePropertiesFunction>(FindSymbol(handle, "getModuleProperties"));
    library->m_make_module = reinterpret_cast<VXMakeModuleFunction>(FindSymbol(handle, "makeModule"));
    if (library->m_get_module_properties == nullptr || library->m_make_module == nullptr) {
        *error = path + " is not a plug-in: it does not export getModuleProperties and makeModule";
        return nullptr;
    }
    return library;
}

PluginLibrary::~PluginLibrary() {
    if (m_handle != nullptr) CloseLibrary(m_handle);
}

std::string PluginFileName(const std::string& name) {
#if defined(_WIN32)
    return name + ".dll";
#else
    return name + ".so";
#endif
}

}  // namespace vxhost
