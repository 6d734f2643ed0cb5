#include "PluginNode.h"

#include <cmath>
#include <cstring>

#include "HostError.h"
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
    m_record = m_library->MakeModule()(0, 1, &PluginNode::Callback, this);
    if (m_record == nullptr) throw HostError(m_library->Path() + ": makeModule returned no instance");
    m_descriptions = ReadPinDescriptions(m_record);
    for (const PinDescription& d : m_descriptions) AddPin(d.pin);
}

PluginNode::~PluginNode() {
    if (m_record != nullptr) m_record->dispatcher(m_record, OP_CLOSE, 0, 0, nullptr, 0.0f);
}

VXIntPtr PluginNode::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    VXPluginRecord* record = m_record;
    if (opcode == OP_CLOSE) m_record = nullptr;
    return record != nullptr ? record->dispatcher(record, opcode, index, value, ptr, opt) : 0;
}

void PluginNode::Start() {
    Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(SampleRate()));
    Dispatch(OP_BLOCK_SIZE, 0, BlockSize());
    m_process = m_record->process_function;
    Dispatch(OP_OPEN);
    for (int32_t pin = 0; pin < PinCount(); ++pin) {
        const PinDescription& d = m_descriptions[static_cast<size_t>(pin)];
        if (d.raw.variable_address == nullptr) continue;
        if (d.pin.kind == PinKind::Audio) {
            float* buffer = Buffer(pin);
            std::memcpy(d.raw.variable_address, &buffer, sizeof buffer);
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

void PluginNode::Process(int32_t offset, int32_t frames) {
    if (m_record == nullptr || m_process == nullptr) return;
    m_process(m_record->object, offset, frames);
}

void PluginNode::CallEventFunction(VXEvent e) {
    if (m_record == nullptr || m_record->event_function == nullptr) return;
    m_record->event_function(m_record->object, &e);
}

void PluginNode::OnPinStatus(int32_t pin, int32_t state) {
    VXEvent e{};
    e.time_stamp = static_cast<uint32_t>(Now());
    e.event_type = ET_PIN_STATUS;
    e.int_value = state;
    e.ptr_value = pin;
    CallEventFunction(e);
}

void PluginNode::OnValueChange(int32_t pin) { WriteValue(pin); }

void PluginNode::OnPluginEvent(const VXEvent& e) { CallEventFunction(e); }

uint64_t PluginNode::ClockFromStamp(uint32_t stamp) const {
    // The instance sees the clock modulo 2^32; a stamp names the clock
    // nearest to the present one.
    const auto difference = static_cast<int32_t>(stamp - static_cast<uint32_t>(Now()));
    const int64_t clock = static_cast<int64_t>(Now()) + difference;
    return clock < 0 ? 0 : static_cast<uint64_t>(clock);
}

VXIntPtr VX_CDECL PluginNode::Callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                       float opt) {
    auto* node = static_cast<PluginNode*>(record->host_data);
    if (node->m_observer) {
        HostCall call{
            record, opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, static_cast<uint32_t>(node->Now()), {}};
        if (opcode == HC_ADD_EVENT && ptr != nullptr) std::memcpy(&call.event, ptr, sizeof call.event);
        node->m_observer(call);
    }
    return node->Answer(opcode, index, value, ptr);
}

VXIntPtr PluginNode::Answer(int32_t opcode, int32_t index, int32_t value, void* ptr) {
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
            if (m_record != nullptr) m_process = m_record->process_function;
            return 0;
        default:  // HC_PIN_QUERY, HC_PIN_VALUE and anything unknown: no answer
            return 0;
    }
}

}  // namespace vxhost
