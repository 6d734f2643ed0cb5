/* Both entry points, but makeModule creates nothing. */
#include <stddef.h>

#include "VXHostAbi.h"

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int32_t VX_CDECL getModuleProperties(int32_t index, VXModuleProperties* properties) {
    properties->sdk_version = VX_SDK_VERSION;
    if (index != 0) return 0;
    properties->id = "Null";
    properties->name = "Null Module";
    properties->about = "makes no instance";
    return 1;
}

EXPORT VXPluginRecord* VX_CDECL makeModule(int32_t index, int32_t profile, vxaudioMasterCallback callback,
                                           void* host_data) {
    (void)index;
    (void)profile;
    (void)callback;
    (void)host_data;
    return NULL;
}
