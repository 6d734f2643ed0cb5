// The two functions a plug-in library exports. Compiled once into each
// plug-in; each deliverable offers exactly one module type, at index 0, the
// class its own source names with VX_REGISTER_MODULE.
#include "VXPluginEntry.h"

#if defined(_WIN32)
#define VX_EXPORT extern "C" __declspec(dllexport)
#else
#define VX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Host call after loading the library.
VX_EXPORT int32_t VX_CDECL getModuleProperties(int32_t index, VXModuleProperties* properties) {
    properties->sdk_version = VX_SDK_VERSION;
    if (index != 0) return 0;
    vx::registered::FillModuleProperties(properties);
    return 1;
}

// Host call, once per instance. The instance lives until OP_CLOSE. When the
// free store cannot hold one, the host gets null, as for an index it does
// not know, rather than an exception it cannot catch.
VX_EXPORT VXPluginRecord* VX_CDECL makeModule(int32_t index, int32_t profile, vxaudioMasterCallback callback,
                                              void* host_data) {
    if (index != 0 || profile != 1) return nullptr;
    VXModule_base* const module = vx::registered::MakeModule(callback, host_data);
    return module != nullptr ? module->Record() : nullptr;
}
