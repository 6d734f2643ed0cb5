#include "TestHost.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "SettingValue.h"

namespace vxhost {

namespace {

bool IsModuleSidePin(int32_t flags) { return (flags & IO_UI_COMMUNICATION) == 0 || (flags & IO_UI_DSP_SHARED) != 0; }

}  // namespace

TestHost::TestHost(const PluginLibrary& library) : m_library(library) {}

TestHost::~TestHost() { Close(); }

VXIntPtr VX_CDECL TestHost::Callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                     float opt) {
    auto* host = static_cast<TestHost*>(record->host_data);
    return host->Answer(record, opcode, index, value, ptr, opt);
}

VXIntPtr TestHost::Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    HostCall call{record, opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt, m_clock, {}};
    switch (opcode) {
        case HC_SAMPLE_CLOCK:
            m_calls.push_back(call);
            return static_cast<VXIntPtr>(m_clock);
        case HC_PIN_COUNT:
            m_calls.push_back(call);
            return m_pin_count;
        case HC_PIN_BUFFER:
            m_calls.push_back(call);
            if (index < 0 || index >= static_cast<int32_t>(m_buffers.size())) return 0;
            return reinterpret_cast<VXIntPtr>(m_buffers[static_cast<size_t>(index)].data());
        case HC_BUFFER_CLOCK:
            m_calls.push_back(call);
            return static_cast<VXIntPtr>(m_block_start);
        case HC_PIN_QUERY:
            m_calls.push_back(call);
            return m_query_answer;
        case HC_ADD_EVENT: {
            std::memcpy(&call.event, ptr, sizeof call.event);
            m_calls.push_back(call);
            const VXEvent e = call.event;
            auto later = std::upper_bound(m_queue.begin(), m_queue.end(), e, [](const VXEvent& a, const VXEvent& b) {
                return a.time_stamp < b.time_stamp;
            });
            m_queue.insert(later, e);
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
    vxaudioMasterCallback callback = m_null_callback ? nullptr : &TestHost::Callback;
    m_record = m_library.MakeModule()(index, profile, callback, this);
    return m_record != nullptr;
}

int32_t TestHost::CountModulePins() {
    int32_t count = 0;
    for (int32_t i = 0;; ++i) {
        VXPinProperties p{};
        if (Dispatch(OP_GET_PIN_PROPERTIES, i, 0, &p) == 0) break;
        if (IsModuleSidePin(p.flags)) ++count;
    }
    return count;
}

void TestHost::Open(float sample_rate, int32_t block_size) {
    if (m_record == nullptr && !Create()) throw std::runtime_error("makeModule returned null");
    if (!m_pin_count_set) m_pin_count = CountModulePins();
    m_block_size = block_size;
    m_buffers.assign(static_cast<size_t>(std::max<int32_t>(m_pin_count, 0)),
                     std::vector<float>(static_cast<size_t>(block_size), 0.0f));
    Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
    Dispatch(OP_BLOCK_SIZE, 0, block_size);
    Dispatch(OP_OPEN);
    BindPins();
}

void TestHost::BindPins() {
    m_pins.clear();
    int32_t number = 0;
    VXPinProperties last{};
    for (int32_t i = 0; number < m_pin_count; ++i) {
        VXPinProperties p{};
        if (Dispatch(OP_GET_PIN_PROPERTIES, i, 0, &p) == 0) break;
        last = p;
        if (!IsModuleSidePin(p.flags)) continue;
        m_pins.push_back({number++, i, p});
    }
    if ((last.flags & IO_AUTODUPLICATE) != 0 && IsModuleSidePin(last.flags)) {
        VXPinProperties copy = last;
        copy.variable_address = nullptr;
        while (number < m_pin_count) m_pins.push_back({number++, -1, copy});
    }
    WriteBufferAddresses();
}

void TestHost::WriteBufferAddresses() {
    for (const HostPin& pin : m_pins) {
        if (pin.properties.datatype != DT_FSAMPLE || pin.properties.variable_address == nullptr) continue;
        float* buffer = m_buffers[static_cast<size_t>(pin.number)].data();
        std::memcpy(pin.properties.variable_address, &buffer, sizeof buffer);
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
    void* target = p.variable_address;
    if (target == nullptr) throw std::runtime_error("setting pin without a variable");
    if (p.datatype != DT_ENUM && p.datatype != DT_BOOL && p.datatype != DT_FLOAT && p.datatype != DT_INT)
        throw std::runtime_error("not a setting pin");
    if (!SettingValueFits(p.datatype, value)) throw std::runtime_error("the setting cannot hold this value");
    WriteSettingValue(target, p.datatype, value);
}

VXIntPtr TestHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    const VXIntPtr result = m_record->dispatcher(m_record, opcode, index, value, ptr, opt);
    if (opcode == OP_CLOSE) m_record = nullptr;
    return result;
}

void TestHost::Close() {
    if (m_record != nullptr) Dispatch(OP_CLOSE);
}

void TestHost::BeginBlock() {
    m_block_start = m_clock;
    WriteBufferAddresses();
}

void TestHost::Process(int32_t buffer_offset, int32_t sample_frames) {
    m_clock = m_block_start + static_cast<uint32_t>(buffer_offset);
    m_record->process_function(m_record->object, buffer_offset, sample_frames);
}

void TestHost::Deliver(VXEvent e) {
    m_clock = e.time_stamp;
    if (e.event_type == ET_PIN_STATUS) m_sleeping = false;
    m_record->event_function(m_record->object, &e);
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
        while (!m_queue.empty() && m_queue.front().time_stamp == now) {
            const VXEvent e = m_queue.front();
            m_queue.erase(m_queue.begin());
            Deliver(e);
        }
        int32_t end = frames;
        if (!m_queue.empty()) {
            const uint32_t next = m_queue.front().time_stamp - m_block_start;
            if (next > static_cast<uint32_t>(offset) && next < static_cast<uint32_t>(frames))
                end = static_cast<int32_t>(next);
        }
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
