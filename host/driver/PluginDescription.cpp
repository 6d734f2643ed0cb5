#include "PluginDescription.h"

#include "HostError.h"
#include "PinValues.h"

namespace vxhost {

namespace {

// A module that answers true for every index would keep the host asking
// forever; no real module has anywhere near this many pins.
constexpr int32_t kMaxDescriptions = 4096;

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

bool IsModuleSidePin(int32_t flags) { return (flags & IO_UI_COMMUNICATION) == 0 || (flags & IO_UI_DSP_SHARED) != 0; }

}  // namespace

ModuleProperties ReadModuleProperties(const PluginLibrary& library) {
    VXModuleProperties raw{};
    if (library.GetModuleProperties()(0, &raw) == 0)
        throw HostError(library.Path() + " offers no module (getModuleProperties(0) answered 0)");
    ModuleProperties properties;
    properties.id = Text(raw.id);
    properties.name = Text(raw.name);
    properties.about = Text(raw.about);
    properties.sdk_version = raw.sdk_version;
    return properties;
}

NodePin ToNodePin(const VXPinProperties& p) {
    NodePin pin;
    pin.name = Text(p.name);
    pin.direction = p.direction == DR_OUT ? PinDirection::Output : PinDirection::Input;
    pin.is_setting = p.direction == DR_PARAMETER;
    pin.datatype = p.datatype;
    switch (p.datatype) {
        case DT_FSAMPLE:
            pin.kind = PinKind::Audio;
            break;
        case DT_ENUM:
        case DT_BOOL:
        case DT_FLOAT:
        case DT_INT:
            pin.kind = PinKind::Value;
            break;
        default:
            pin.kind = PinKind::Other;
            break;
    }
    pin.default_text = Text(p.default_value);
    pin.choices = p.datatype == DT_ENUM ? Text(p.datatype_extra) : std::string();
    pin.default_value = DefaultValue(pin);
    return pin;
}

std::vector<PinDeclaration> ReadPinDeclarations(VXPluginRecord* record, int32_t pin_count) {
    std::vector<PinDeclaration> pins;
    const auto count = [&pins]() { return static_cast<int32_t>(pins.size()); };
    VXPinProperties last{};
    for (int32_t i = 0; i < kMaxDescriptions && (pin_count < 0 || count() < pin_count); ++i) {
        VXPinProperties p{};
        if (record->dispatcher(record, OP_GET_PIN_PROPERTIES, i, 0, &p, 0.0f) == 0) break;
        last = p;
        if (IsModuleSidePin(p.flags)) pins.push_back({count(), i, p});
    }
    if (IsModuleSidePin(last.flags) && (last.flags & IO_AUTODUPLICATE) != 0) {
        VXPinProperties copy = last;
        copy.variable_address = nullptr;
        while (count() < pin_count) pins.push_back({count(), -1, copy});
    }
    return pins;
}

std::vector<PinDescription> ReadPinDescriptions(VXPluginRecord* record, int32_t pin_count) {
    std::vector<PinDescription> pins;
    for (const PinDeclaration& p : ReadPinDeclarations(record, pin_count)) {
        PinDescription d;
        d.number = p.number;
        d.declaration = p.declaration;
        d.raw = p.raw;
        d.pin = ToNodePin(p.raw);
        if (d.pin.name.empty()) d.pin.name = "pin " + std::to_string(d.number);
        pins.push_back(d);
    }
    return pins;
}

PluginDescription DescribePlugin(const PluginLibrary& library) {
    PluginDescription description;
    description.path = library.Path();
    description.properties = ReadModuleProperties(library);
    VXPluginRecord* record = library.MakeModule()(0, 1, nullptr, nullptr);
    if (record == nullptr) throw HostError(library.Path() + ": makeModule returned no instance");
    description.pins = ReadPinDescriptions(record);
    record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
    return description;
}

std::string DirectionName(const NodePin& pin) {
    if (pin.direction == PinDirection::Output) return "out";
    return pin.is_setting ? "setting" : "in";
}

}  // namespace vxhost
