#include "TestHost.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "PluginDescription.h"
#include "SampleClock.h"
#include "SettingValue.h"
#include "StreamAnswers.h"

namespace vxhost {

TestHost::TestHost(const PluginLibrary& library) : m_library(library) { m_instance.FollowRecord(true); }

TestHost::~TestHost() { Close(); }

VXIntPtr TestHost::Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    HostCall call{record, opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, m_clock, {}};
    VXIntPtr answer = 0;
    const auto buffer_of = [this](int32_t pin) -> float* {
        return static_cast<size_t>(pin) < m_buffers.size() ? m_buffers[static_cast<size_t>(pin)].data() : nullptr;
    };
    if (AnswerStreamQuery(opcode, index, {m_clock, m_block_start, m_pin_count}, buffer_of, answer)) {
        m_calls.push_back(call);
        return answer;
    }
    switch (opcode) {
        case HC_PIN_QUERY:
            m_calls.push_back(call);
            return m_query_answer;
        case HC_ADD_EVENT: {
            std::memcpy(&call.event, ptr, sizeof call.event);
            m_calls.push_back(call);
            m_queue.Push(call.event.time_stamp, call.event);
            return 0;
        }
        case HC_SLEEP:
            m_calls.push_back(call);
            m_sleeping = true;
            return 0;
        default:  // HC_PIN_STATUS, HC_PIN_VALUE, HC_PROCESS_CHANGED and anything else
            m_calls.push_back(call);
            return 0;
    }
}

bool TestHost::Create(int32_t index, int32_t profile) {
    return m_instance.Create(m_library, index, profile, !m_null_callback);
}

void TestHost::Open(float sample_rate, int32_t block_size) {
    if (Record() == nullptr && !Create()) throw std::runtime_error("makeModule returned null");
    if (!m_pin_count_set) m_pin_count = static_cast<int32_t>(ReadPinDeclarations(Record()).size());
    m_block_size = block_size;
    m_buffers.assign(static_cast<size_t>(std::max<int32_t>(m_pin_count, 0)),
                     std::vector<float>(static_cast<size_t>(block_size), 0.0f));
    m_instance.Open(sample_rate, block_size);
    BindPins();
}

void TestHost::BindPins() {
    m_pins.clear();
    for (const PinDeclaration& d : ReadPinDeclarations(Record(), std::max<int32_t>(m_pin_count, 0)))
        m_pins.push_back({d.number, d.declaration, d.raw});
    WriteBufferAddresses();
}

void TestHost::WriteBufferAddresses() {
    for (const HostPin& pin : m_pins) {
        if (pin.properties.datatype != DT_FSAMPLE) continue;
        PluginInstance::WriteBufferAddress(pin.properties.variable_address,
                                           m_buffers[static_cast<size_t>(pin.number)].data());
    }
}

int32_t TestHost::PinNumber(const std::string& name) const {
    for (const HostPin& pin : m_pins) {
        if (pin.properties.name != nullptr && name == pin.properties.name) return pin.number;
    }
    return -1;
}

void TestHost::Fill(int32_t pin, float value) {
    std::vector<float>& buffer = Buffer(pin);
    std::fill(buffer.begin(), buffer.end(), value);
}

void TestHost::SetSetting(int32_t pin, double value) {
    const VXPinProperties& p = m_pins.at(static_cast<size_t>(pin)).properties;
    if (p.variable_address == nullptr) throw std::runtime_error("setting pin without a variable");
    if (!IsSettingDatatype(p.datatype)) throw std::runtime_error("not a setting pin");
    if (!SettingValueFits(p.datatype, value)) throw std::runtime_error("the setting cannot hold this value");
    WriteSettingValue(p.variable_address, p.datatype, value);
}

VXIntPtr TestHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    return m_instance.Dispatch(opcode, index, value, ptr, opt);
}

void TestHost::Close() { m_instance.Close(); }

void TestHost::BeginBlock() {
    m_block_start = m_clock;
    WriteBufferAddresses();
}

void TestHost::Process(int32_t buffer_offset, int32_t sample_frames) {
    m_clock = m_block_start + static_cast<uint32_t>(buffer_offset);
    m_instance.Process(buffer_offset, sample_frames);
}

void TestHost::Deliver(VXEvent e) {
    m_clock = e.time_stamp;
    if (e.event_type == ET_PIN_STATUS) m_sleeping = false;
    m_instance.Deliver(e);
}

void TestHost::SendPinStatus(int32_t pin, int32_t state, int32_t offset) {
    VXEvent e{};
    e.time_stamp = m_block_start + static_cast<uint32_t>(offset);
    e.event_type = ET_PIN_STATUS;
    e.int_value = state;
    e.ptr_value = pin;
    Deliver(e);
}

void TestHost::RunBlock(int32_t frames) {
    int32_t offset = 0;
    while (offset < frames) {
        const uint32_t now = m_block_start + static_cast<uint32_t>(offset);
        while (!m_queue.Empty() && m_queue.Front().clock == now) Deliver(m_queue.Pop().item);
        const int64_t next = m_queue.Empty() ? frames : static_cast<int64_t>(m_queue.Front().clock - m_block_start);
        const int32_t end = CallEnd(offset, frames, next);
        if (!(m_honour_sleep && m_sleeping)) Process(offset, end - offset);
        offset = end;
    }
    m_clock = m_block_start + static_cast<uint32_t>(frames);
    BeginBlock();
}

std::vector<HostCall> TestHost::CallsWith(int32_t opcode) const {
    std::vector<HostCall> out;
    for (const HostCall& call : m_calls) {
        if (call.opcode == opcode) out.push_back(call);
    }
    return out;
}

int TestHost::ProcessChanges() const { return static_cast<int>(CallsWith(HC_PROCESS_CHANGED).size()); }

int TestHost::SleepRequests() const { return static_cast<int>(CallsWith(HC_SLEEP).size()); }

}  // namespace vxhost
