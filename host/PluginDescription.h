// What a plug-in library tells about itself: the module properties, and the
// pin table that an instance describes before it is opened.
#ifndef VXHOST_PLUGINDESCRIPTION_H
#define VXHOST_PLUGINDESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "Node.h"
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
    int32_t declaration = 0;  // the description index it came from
    VXPinProperties raw{};    // texts point into the library
    NodePin pin;
};

struct PluginDescription {
    std::string path;
    ModuleProperties properties;
    std::vector<PinDescription> pins;
};

ModuleProperties ReadModuleProperties(const PluginLibrary& library);

// Asks an instance for its descriptions through the dispatcher.
std::vector<PinDescription> ReadPinDescriptions(VXPluginRecord* record);

// Properties and pins, from a short-lived instance that is never opened.
PluginDescription DescribePlugin(const PluginLibrary& library);

// The host's reading of one description.
NodePin ToNodePin(const VXPinProperties& properties);

std::string DirectionName(const NodePin& pin);

}  // namespace vxhost

#endif  // VXHOST_PLUGINDESCRIPTION_H
