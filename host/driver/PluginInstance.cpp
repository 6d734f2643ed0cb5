#include "PluginInstance.h"

#include <cstring>

namespace vxhost {

namespace {

// The instance the host is calling into right now. Calls it makes are
// charged to it, whatever record they carry, so an instance that passes a
// record not its own cannot reach another host's hooks.
PluginInstance* g_active = nullptr;

}  // namespace

class PluginInstance::Active {
public:
    explicit Active(PluginInstance* instance) : m_previous(g_active) { g_active = instance; }
    ~Active() { g_active = m_previous; }
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;

private:
    PluginInstance* m_previous;
};

VXIntPtr VX_CDECL PluginInstance::Callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value,
                                           void* ptr, float opt) {
    Hooks* hooks = nullptr;
    if (g_active != nullptr)
        hooks = &g_active->m_hooks;
    else if (record != nullptr)
        hooks = static_cast<Hooks*>(record->host_data);
    if (hooks == nullptr) return 0;
    return hooks->Answer(record, opcode, index, value, ptr, opt);
}

bool PluginInstance::Create(const PluginLibrary& library, int32_t index, int32_t profile, bool with_callback) {
    m_with_callback = with_callback;
    Active active(this);
    m_record = library.MakeModule()(index, profile, with_callback ? &PluginInstance::Callback : nullptr, &m_hooks);
    if (m_record != nullptr) m_process = m_record->process_function;
    return m_record != nullptr;
}

VXIntPtr PluginInstance::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    VXPluginRecord* record = m_record;
    if (record == nullptr) return 0;
    if (opcode == OP_CLOSE) m_record = nullptr;
    Active active(this);
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void PluginInstance::Open(float sample_rate, int32_t block_size) {
    Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
    Dispatch(OP_BLOCK_SIZE, 0, block_size);
    RoutineChanged();
    Dispatch(OP_OPEN);
    if (!m_with_callback) RoutineChanged();
}

void PluginInstance::Close() {
    if (m_record != nullptr) Dispatch(OP_CLOSE);
}

void PluginInstance::RoutineChanged() {
    if (m_record != nullptr) m_process = m_record->process_function;
}

void PluginInstance::Process(int32_t offset, int32_t frames) {
    if (m_record == nullptr) return;
    if (m_follow_record || !m_with_callback) m_process = m_record->process_function;
    if (m_process == nullptr) return;
    Active active(this);
    m_process(m_record->object, offset, frames);
}

void PluginInstance::Deliver(VXEvent e) {
    if (m_record == nullptr || m_record->event_function == nullptr) return;
    Active active(this);
    m_record->event_function(m_record->object, &e);
}

void PluginInstance::NotifyPin(int32_t pin, int32_t state, uint32_t clock) {
    VXEvent e{};
    e.time_stamp = clock;
    e.event_type = ET_PIN_STATUS;
    e.int_value = state;
    e.ptr_value = pin;
    Deliver(e);
}

void PluginInstance::WriteBufferAddress(void* variable, float* buffer) {
    if (variable != nullptr) std::memcpy(variable, &buffer, sizeof buffer);
}

}  // namespace vxhost
