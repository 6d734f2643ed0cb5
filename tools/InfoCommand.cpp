// vxhost info PLUGIN: what the module is and its pin table.
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "LibraryProbe.h"
#include "PinValues.h"
#include "PluginDescription.h"
#include "PluginSearch.h"
#include "TextTable.h"

namespace vxhost {

namespace {

std::string DefaultCell(const NodePin& pin) {
    if (pin.direction == PinDirection::Output) return "-";
    std::string cell = FormatPinValue(pin, pin.default_value);
    if (pin.kind == PinKind::Audio && !pin.default_text.empty()) cell += " (" + pin.default_text + "V)";
    return cell;
}

std::string ChoicesCell(const NodePin& pin) {
    std::string cell;
    for (const Choice& c : ParseChoices(pin.choices))
        cell += (cell.empty() ? "" : ", ") + c.label + "=" + std::to_string(c.value);
    return cell;
}

void PrintTable(const PluginDescription& d) {
    TextTable properties({"plug-in", d.path});
    properties.Add({"id", d.properties.id});
    properties.Add({"name", d.properties.name});
    properties.Add({"about", d.properties.about});
    properties.Add({"framework", std::to_string(d.properties.sdk_version)});
    properties.Print(std::cout);
    std::cout << '\n';
    TextTable pins({"pin", "name", "direction", "type", "default", "choices"});
    for (const PinDescription& p : d.pins)
        pins.Add({std::to_string(p.number), p.pin.name, DirectionName(p.pin), TypeName(p.pin), DefaultCell(p.pin),
                  ChoicesCell(p.pin)});
    pins.Print(std::cout);
}

void PrintJson(const PluginDescription& d) {
    nlohmann::ordered_json out;
    out["path"] = d.path;
    out["id"] = d.properties.id;
    out["name"] = d.properties.name;
    out["about"] = d.properties.about;
    out["sdk_version"] = d.properties.sdk_version;
    out["pins"] = nlohmann::ordered_json::array();
    for (const PinDescription& p : d.pins) {
        nlohmann::ordered_json pin;
        pin["index"] = p.number;
        pin["name"] = p.pin.name;
        pin["direction"] = DirectionName(p.pin);
        pin["type"] = TypeName(p.pin);
        pin["datatype"] = p.pin.datatype;
        pin["flags"] = p.raw.flags;
        if (p.pin.direction == PinDirection::Input) {
            pin["default_text"] = p.pin.default_text;
            pin["default"] = p.pin.default_value;
        }
        if (p.pin.kind == PinKind::Value && p.pin.datatype == DT_ENUM) {
            pin["choices"] = nlohmann::ordered_json::array();
            for (const Choice& c : ParseChoices(p.pin.choices))
                pin["choices"].push_back({{"label", c.label}, {"value", c.value}});
        }
        out["pins"].push_back(pin);
    }
    std::cout << out.dump(2) << '\n';
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    const auto library = LoadPluginSafely(options.plugin);
    const PluginDescription description = DescribePlugin(*library);
    if (options.json)
        PrintJson(description);
    else
        PrintTable(description);
    return 0;
}

}  // namespace vxhost
