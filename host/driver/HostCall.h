// One call a plug-in instance made to its host, as hosts record it.
#ifndef VXHOST_HOSTCALL_H
#define VXHOST_HOSTCALL_H

#include <cstdint>

#include "VXHostAbi.h"

namespace vxhost {

// One call the instance made to the host.
struct HostCall {
    VXPluginRecord* record;
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t ptr;
    float opt;
    uint32_t host_clock;  // the host's clock when the call came
    VXEvent event;        // HC_ADD_EVENT: the host's copy of the event

    uint32_t PtrAsClock() const { return static_cast<uint32_t>(ptr); }
};

}  // namespace vxhost

#endif  // VXHOST_HOSTCALL_H
