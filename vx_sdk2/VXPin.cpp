#include "VXPin.h"

#include "VXAssert.h"
#include "VXModule_base.h"

namespace {

void* ClockAsPointer(uint32_t sample_clock) { return reinterpret_cast<void*>(static_cast<uintptr_t>(sample_clock)); }

}  // namespace

void VXPin::Init(VXModule_base* module, int32_t pin_index, int32_t datatype, void* variable_address) {
    m_pin_index = pin_index;
    m_module = module;
    m_datatype = datatype;
    m_status = ST_STATIC;
    m_local_value = {};
    if (variable_address != nullptr) {
        m_value_ptr = variable_address;
        return;
    }
    switch (static_cast<uint32_t>(datatype)) {
        case DT_ENUM:
            m_local_value.as_enum = 0;
            break;
        case DT_BOOL:
            m_local_value.as_bool = false;
            break;
        case DT_FSAMPLE:
            m_local_value.as_buffer =
                reinterpret_cast<float*>(module->CallHost(HC_PIN_BUFFER, pin_index, 0, nullptr, 0.0f));
            break;
        case DT_FLOAT:
            m_local_value.as_float = 0.0f;
            break;
        case DT_INT:
            m_local_value.as_int = 0;
            break;
        default:  // no storage of the pin's own for the other codes
            m_value_ptr = nullptr;
            return;
    }
    m_value_ptr = &m_local_value;
}

void VXPin::TransmitStatusChange(uint32_t sample_clock, int32_t new_state) {
    m_module->CallHost(HC_PIN_STATUS, m_pin_index, new_state, ClockAsPointer(sample_clock), 0.0f);
}

void VXPin::TransmitPinValue(uint32_t sample_clock, int32_t value) {
    VX_CHECK(sample_clock >= m_module->SampleClock(), "sampleclock >= m_module->SampleClock()", VX_PIN_SOURCE, 77);
    m_module->CallHost(HC_PIN_VALUE, m_pin_index, value, ClockAsPointer(sample_clock), 0.0f);
}

void VXPin::OnStatusUpdate(int32_t new_state) {
    m_status = new_state;
    m_module->OnPinStatusChange(this);
    if (new_state == ST_ONE_OFF) m_status = ST_STATIC;
}

bool VXPin::QueryHostFlag() { return m_module->CallHost(HC_PIN_QUERY, m_pin_index, 0, nullptr, 0.0f) != 0; }

float VXPin::GetValue() {
    VX_CHECK(m_datatype == DT_FSAMPLE, "m_datatype == DT_FSAMPLE", VX_PIN_SOURCE, 125);
    const auto start = static_cast<uint32_t>(m_module->CallHost(HC_BUFFER_CLOCK, m_pin_index, 0, nullptr, 0.0f));
    const uint32_t now = m_module->SampleClock();
    const float* buffer = *static_cast<float* const*>(m_value_ptr);
    return buffer[now - start];
}
