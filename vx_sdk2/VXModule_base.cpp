#include "VXModule_base.h"

#include <new>

#include "VXAssert.h"

namespace {

// One record for the whole library, shared by all instances and rewritten on
// every OP_GET_PROCESS_POINTER request.
VXProcessPointerInfo g_process_pointer_info;

bool IsModuleSidePin(int32_t flags) { return (flags & IO_UI_COMMUNICATION) == 0 || (flags & IO_UI_DSP_SHARED) != 0; }

}  // namespace

VXModule_base::VXModule_base(vxaudioMasterCallback callback, void* host_data) noexcept
    : m_callback(callback),
      m_record(),
      m_pins(nullptr),
      m_process_function(ProcessRoutine<&VXModule_base::EmptyProcess>()) {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.magic = VX_PLUGIN_MAGIC;
    m_record.version = VX_PLUGIN_RECORD_VERSION;
    m_record.host_data = host_data;
    m_record.object = this;
    m_record.dispatcher = &VXModule_base::DispatcherEntry;
    m_record.process_function = m_process_function.entry;
    m_record.event_function = &VXModule_base::EventEntry;
    m_record.sample_rate = 44100.0f;
    m_record.block_size = 1024;
}

VXModule_base::~VXModule_base() {
    delete[] m_pins;  // element destructors run last to first
}

void VXModule_base::OnPinStatusChange(VXPin*) {}
void VXModule_base::Close() {}
void VXModule_base::Spare1() {}
void VXModule_base::SetSampleRate(float rate) { m_record.sample_rate = rate; }
void VXModule_base::SetBlockSize(int32_t size) { m_record.block_size = size; }
float VXModule_base::SampleRate() { return m_record.sample_rate; }
int32_t VXModule_base::BlockSize() { return m_record.block_size; }
bool VXModule_base::getPinProperties(int32_t, VXPinProperties*) { return false; }
int32_t VXModule_base::Spare2() { return 0; }
int32_t VXModule_base::Spare3() { return 0; }
void VXModule_base::Restart() {}
void VXModule_base::RestartValue(int32_t) {}
void VXModule_base::OnDataEvent(uint32_t, int32_t, int16_t) {}
void VXModule_base::OnHostMessage(int32_t, int32_t, void*) {}
void VXModule_base::EmptyProcess(int32_t, int32_t) {}

VXIntPtr VXModule_base::Dispatcher(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (static_cast<uint32_t>(opcode)) {
        case OP_OPEN:
            Open();
            return 0;
        case OP_CLOSE:
            Close();
            delete this;
            return 1;
        case OP_SAMPLE_RATE:
            SetSampleRate(opt);
            return 0;
        case OP_BLOCK_SIZE:
            SetBlockSize(value);
            return 0;
        case OP_GET_PIN_PROPERTIES: {
            auto* properties = static_cast<VXPinProperties*>(ptr);
            const bool answer = getPinProperties(index, properties);
            CheckPinConsistency(properties);
            return answer ? 1 : 0;
        }
        case OP_NOT_FOR_MODULES_7:
            VX_CHECK(false, "false", VX_MODULE_BASE_SOURCE, 99);
            return 0;
        case OP_RESTART:
            Restart();
            if (index > 0) RestartValue(index);
            return 0;
        case OP_NOT_FOR_MODULES_10:
            VX_CHECK(false, "false", VX_MODULE_BASE_SOURCE, 119);
            return 0;
        case OP_HOST_MESSAGE:
            OnHostMessage(value, index, ptr);
            return 0;
        case OP_GET_PROCESS_POINTER:
            g_process_pointer_info.format = 1;
            g_process_pointer_info.size = static_cast<int32_t>(sizeof m_process_function);
            g_process_pointer_info.address = &m_process_function;
            g_process_pointer_info.tag = 1002;
            return reinterpret_cast<VXIntPtr>(&g_process_pointer_info);
        default:
            return 0;
    }
}

void VXModule_base::CheckPinConsistency(const VXPinProperties* properties) {
    // A host that asks without a record gets its answer; there is nothing to check.
    if (properties == nullptr) return;
    VX_CHECK((properties->flags & IO_PATCH_STORE) == 0 || (properties->flags & IO_PRIVATE) != 0 ||
                 properties->direction == DR_OUT || (properties->flags & IO_UI_COMMUNICATION) != 0,
             "(((VXPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || "
             "(((VXPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
             "((VXPinProperties*)ptr)->direction == DR_OUT || "
             "( ( (VXPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0",
             VX_MODULE_BASE_SOURCE, 80);
}

void VXModule_base::Open() { CreatePins(); }

void VXModule_base::CreatePins() {
    const VXIntPtr host_count = CallHost(HC_PIN_COUNT, 0, 0, nullptr, 0.0f);
    // A count the host cannot back with memory leaves the instance without
    // pins, as a count of 0 does, rather than ending the host with an exception.
    const int32_t n = host_count > 0 && host_count <= INT32_MAX ? static_cast<int32_t>(host_count) : 0;
    if (n > 0) {
        m_pins = new (std::nothrow) VXPin[static_cast<size_t>(n)];
        m_pin_count = m_pins != nullptr ? n : 0;
    }

    VXPinProperties p;
    int32_t i = 0;
    int32_t j = 0;
    for (;;) {
        std::memset(&p, 0, sizeof p);
        const bool declared = getPinProperties(i, &p);
        if (!declared || j >= m_pin_count) break;
        if (IsModuleSidePin(p.flags)) {
            m_pins[j].Init(this, j, p.datatype, p.variable_address);
            ++j;
        }
        ++i;
    }

    // The last declaration may ask to be repeated for every further host pin.
    std::memset(&p, 0, sizeof p);
    getPinProperties(i - 1, &p);
    if (IsModuleSidePin(p.flags) && (p.flags & IO_AUTODUPLICATE) != 0) {
        for (int32_t k = j; k < m_pin_count; ++k) m_pins[k].Init(this, k, p.datatype, nullptr);
    }
}

bool VXModule_base::QueryPinProperties(int32_t index, VXPinProperties* properties) {
    std::memset(properties, 0, sizeof *properties);
    return getPinProperties(index, properties);
}

VXIntPtr VXModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    if (m_callback == nullptr) return 0;
    return m_callback(&m_record, opcode, index, value, ptr, opt);
}

uint32_t VXModule_base::SampleClock() { return static_cast<uint32_t>(CallHost(HC_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f)); }

VXPin* VXModule_base::GetPin(int32_t n) {
    VX_CHECK(m_pins != nullptr, "m_pins != 0", VX_MODULE_BASE_SOURCE, 150);
    return &m_pins[n];
}

void VXModule_base::AddEvent(uint32_t p_time_stamp, int32_t p_event_type, int32_t p_int_value, int32_t p_int_value2,
                             intptr_t p_ptr_value) {
    if (m_callback == nullptr) return;
    VX_CHECK(p_time_stamp >= SampleClock(), "p_time_stamp >= SampleClock()", VX_MODULE_BASE_SOURCE, 340);
    VXEvent e;
    e.time_stamp = p_time_stamp;
    e.event_type = p_event_type;
    e.int_value = p_int_value;
    e.int_value2 = p_int_value2;
    e.ptr_value = p_ptr_value;
    e.reserved = 0;
    CallHost(HC_ADD_EVENT, 0, 0, &e, 0.0f);
}

void VXModule_base::HandleEvent(VXEvent* e) {
    VX_CHECK(e->time_stamp == SampleClock(), "e->time_stamp == SampleClock()", VX_MODULE_BASE_SOURCE, 276);
    switch (e->event_type) {
        case ET_PIN_STATUS: {
            VXPin* const pins = GetPin(0);
            // The host names only pins that exist; a number outside the array
            // would write into foreign memory, and a pin that open left
            // unbound (more host pins than declared) has no module to
            // notify, so such an event is dropped.
            if (e->ptr_value < 0 || e->ptr_value >= m_pin_count) return;
            if (pins[e->ptr_value].Module() == nullptr) return;
            pins[e->ptr_value].OnStatusUpdate(e->int_value);
            return;
        }
        case ET_DATA:
            OnDataEvent(e->time_stamp, e->int_value, static_cast<int16_t>(e->int_value2 & 0xFFFF));
            return;
        case ET_CALL: {
            const intptr_t words[2] = {e->ptr_value, 0};
            VXCallRoutine routine;
            std::memcpy(&routine, words, sizeof routine);
            (this->*routine)();
            return;
        }
        default:  // type 6 and every unknown type: accepted, no action
            return;
    }
}

void VXModule_base::SetProcessFunction(VXProcessRoutine routine) {
    if (routine == m_process_function) return;
    m_process_function = routine;
    m_record.process_function = routine.entry;
    CallHost(HC_PROCESS_CHANGED, 0, 0, nullptr, 0.0f);
}

VXIntPtr VX_CDECL VXModule_base::DispatcherEntry(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value,
                                                 void* ptr, float opt) {
    vx::FpEnvironmentGuard fp;
    return record->object->Dispatcher(opcode, index, value, ptr, opt);
}

void VX_CDECL VXModule_base::EventEntry(VXModule_base* object, VXEvent* e) {
    vx::FpEnvironmentGuard fp;
    object->HandleEvent(e);
}
