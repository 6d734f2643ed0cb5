// What a plug-in library tells about itself: the module properties, and the
// pin table that an instance describes before it is opened.
#ifndef VXHOST_PLUGINDESCRIPTION_H
#define VXHOST_PLUGINDESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "Pin.h"
#include "PluginLibrary.h"

namespace vxhost {

struct ModuleProperties {
    std::string id;
    std::string name;
    std::string about;
    int32_t sdk_version = 0;
};

// A pin as the host numbers it (UI-only descriptions take no number).
struct PinDescription {
    int32_t number = 0;
    int32_t declaration = 0;  // the description index it came from, -1 if duplicated
    VXPinProperties raw{};    // texts point into the library
    NodePin pin;
};

struct PluginDescription {
    std::string path;
    ModuleProperties properties;
    std::vector<PinDescription> pins;
};

ModuleProperties ReadModuleProperties(const PluginLibrary& library);

// A pin as the module numbers it, its description as the module gave it.
struct PinDeclaration {
    int32_t number = 0;
    int32_t declaration = 0;  // the description index it came from, -1 if duplicated
    VXPinProperties raw{};
};

// Asks an instance for its descriptions through the dispatcher and numbers
// its pins as the module side does: descriptions for the user interface
// alone take no number. With `pin_count` host pins (by default as many as
// the module declares for its side), a last declaration marked
// IO_AUTODUPLICATE stands again for every further pin, without a member of
// its own. Reads texts only by address, so it does no arithmetic in the
// caller's floating-point state.
std::vector<PinDeclaration> ReadPinDeclarations(VXPluginRecord* record, int32_t pin_count = -1);

// The same pins with the host's reading of each description.
std::vector<PinDescription> ReadPinDescriptions(VXPluginRecord* record, int32_t pin_count = -1);

// Properties and pins, from a short-lived instance that is never opened.
PluginDescription DescribePlugin(const PluginLibrary& library);

// The host's reading of one description.
NodePin ToNodePin(const VXPinProperties& properties);

std::string DirectionName(const NodePin& pin);

}  // namespace vxhost

#endif  // VXHOST_PLUGINDESCRIPTION_H
