#include "PluginNode.h"

#include <cmath>
#include <cstring>

#include "HostError.h"
#include "SampleClock.h"
#include "SettingValue.h"

namespace vxhost {

std::string PluginStem(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    std::string stem = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.erase(dot);
    return stem;
}

PluginNode::PluginNode(std::shared_ptr<const PluginLibrary> library, std::string name)
    : Node(std::move(name)), m_library(std::move(library)), m_kind(PluginStem(m_library->Path())) {
    m_properties = ReadModuleProperties(*m_library);
    if (!m_instance.Create(*m_library)) throw HostError(m_library->Path() + ": makeModule returned no instance");
    m_descriptions = ReadPinDescriptions(m_instance.Record());
    for (const PinDescription& d : m_descriptions) AddPin(d.pin);
}

PluginNode::~PluginNode() { m_instance.Close(); }

VXIntPtr PluginNode::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    CatchUp();
    return m_instance.Dispatch(opcode, index, value, ptr, opt);
}

void PluginNode::Start() {
    m_instance.Open(static_cast<float>(SampleRate()), BlockSize());
    for (int32_t pin = 0; pin < PinCount(); ++pin) {
        const PinDescription& d = m_descriptions[static_cast<size_t>(pin)];
        if (d.raw.variable_address == nullptr) continue;
        if (d.pin.kind == PinKind::Audio) {
            PluginInstance::WriteBufferAddress(d.raw.variable_address, Buffer(pin));
        } else if (d.pin.kind == PinKind::Value) {
            WriteValue(pin);
        }
    }
}

// A patch's numbers are meant as they stand: one the setting cannot hold,
// or a float setting given no number, is a mistake in the patch.
void PluginNode::WriteValue(int32_t pin) {
    const PinDescription& d = m_descriptions[static_cast<size_t>(pin)];
    void* target = d.raw.variable_address;
    if (target == nullptr) return;
    const double value = Value(pin);
    const bool numeric = d.pin.datatype == DT_FLOAT || d.pin.datatype == DT_ENUM || d.pin.datatype == DT_INT;
    if (numeric && (!std::isfinite(value) || !SettingValueFits(d.pin.datatype, value)))
        throw HostError(Name() + "." + d.pin.name + ": value out of range");
    WriteSettingValue(target, d.pin.datatype, value);
}

void PluginNode::Process(int32_t offset, int32_t frames) { m_instance.Process(offset, frames); }

void PluginNode::OnPinStatus(int32_t pin, int32_t state) {
    m_instance.NotifyPin(pin, state, static_cast<uint32_t>(Now()));
}

void PluginNode::OnValueChange(int32_t pin) { WriteValue(pin); }

void PluginNode::OnPluginEvent(const VXEvent& e) { m_instance.Deliver(e); }

uint64_t PluginNode::ClockFromStamp(uint32_t stamp) const {
    const int64_t clock = UnwrapStamp(stamp, static_cast<int64_t>(Now()));
    return clock < 0 ? 0 : static_cast<uint64_t>(clock);
}

VXIntPtr PluginNode::Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                            float opt) {
    if (m_observer) {
        HostCall call{record, opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, static_cast<uint32_t>(Now()),
                      {}};
        if (opcode == HC_ADD_EVENT && ptr != nullptr) std::memcpy(&call.event, ptr, sizeof call.event);
        m_observer(call);
    }
    const bool known_pin = index >= 0 && index < PinCount();
    switch (opcode) {
        case HC_SAMPLE_CLOCK:
            return static_cast<VXIntPtr>(static_cast<uint32_t>(Now()));
        case HC_PIN_COUNT:
            return PinCount();
        case HC_PIN_BUFFER:
            return known_pin ? reinterpret_cast<VXIntPtr>(Buffer(index)) : 0;
        case HC_BUFFER_CLOCK:
            return static_cast<VXIntPtr>(static_cast<uint32_t>(BlockStart()));
        case HC_PIN_STATUS:
            if (known_pin)
                Announce(index, value, ClockFromStamp(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ptr))));
            return 0;
        case HC_ADD_EVENT: {
            if (ptr == nullptr) return 0;
            NodeEvent e;
            e.kind = NodeEvent::Kind::Plugin;
            std::memcpy(&e.plugin, ptr, sizeof e.plugin);
            e.time = ClockFromStamp(e.plugin.time_stamp);
            Enqueue(e);
            return 0;
        }
        case HC_SLEEP:
            RequestSleep();
            return 0;
        case HC_PROCESS_CHANGED:
            m_instance.RoutineChanged();
            return 0;
        default:  // HC_PIN_QUERY, HC_PIN_VALUE and anything unknown: no answer
            return 0;
    }
}

}  // namespace vxhost
