// The two functions a plug-in library exports. Compiled once into each
// plug-in, with that plug-in's folder on the include path: each deliverable
// offers exactly one module type, its `Module`, at index 0.
#include <new>

#include "Module.h"
#include "VXHostAbi.h"

#if defined(_WIN32)
#define VX_EXPORT extern "C" __declspec(dllexport)
#else
#define VX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Host call after loading the library.
VX_EXPORT int32_t VX_CDECL getModuleProperties(int32_t index, VXModuleProperties* properties) {
    properties->sdk_version = VX_SDK_VERSION;
    if (index != 0) return 0;
    Module::FillModuleProperties(properties);
    return 1;
}

// Host call, once per instance. The instance lives until OP_CLOSE.
VX_EXPORT VXPluginRecord* VX_CDECL makeModule(int32_t index, int32_t profile, vxaudioMasterCallback callback,
                                              void* host_data) {
    if (index != 0 || profile != 1) return nullptr;
    Module* module = new Module(callback, host_data);
    return module->Record();
}
