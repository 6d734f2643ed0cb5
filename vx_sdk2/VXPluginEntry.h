// The one line by which a plug-in names the module class its library offers
// at index 0. Written once, at namespace scope outside any namespace, in one
// source file of the plug-in:
//
//     VX_REGISTER_MODULE(ramplet::Module)
//
// It defines the two functions that the exported entry points
// (VXPluginEntry.cpp) call, so that the framework needs no header of the
// plug-in. The class derives from VXModule_base, is constructed from the
// host callback and the host data without throwing, and has a static
// FillModuleProperties that stores the module's three texts.
#ifndef VX_SDK2_VXPLUGINENTRY_H
#define VX_SDK2_VXPLUGINENTRY_H

#include <new>
#include <type_traits>

#include "VXHostAbi.h"
#include "VXModule_base.h"

namespace vx::registered {

// getModuleProperties, plug-in index 0: the module's id, name and about texts.
bool FillModuleProperties(VXModuleProperties* properties);
// makeModule: a new instance on the free store, or null when the free store
// cannot hold one. No exception leaves it: the host calling it is C.
VXModule_base* MakeModule(vxaudioMasterCallback callback, void* host_data) noexcept;

}  // namespace vx::registered

#define VX_REGISTER_MODULE(ModuleClass)                                                                   \
    static_assert(std::is_base_of_v<VXModule_base, ModuleClass>, "a module derives from VXModule_base");  \
    static_assert(std::is_nothrow_constructible_v<ModuleClass, vxaudioMasterCallback, void*>,             \
                  "makeModule throws no exception: the module's constructor must not throw");             \
    bool vx::registered::FillModuleProperties(VXModuleProperties* properties) {                           \
        return ModuleClass::FillModuleProperties(properties);                                             \
    }                                                                                                     \
    VXModule_base* vx::registered::MakeModule(vxaudioMasterCallback callback, void* host_data) noexcept { \
        return new (std::nothrow) ModuleClass(callback, host_data);                                       \
    }

#endif  // VX_SDK2_VXPLUGINENTRY_H
