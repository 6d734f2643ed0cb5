#include "Module.h"

#include <cstring>

#include "VXPluginEntry.h"

namespace probe {

namespace {

bool g_refuse_next_instance = false;

ProbeLog g_log;

void Log(int32_t kind, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
    if (g_log.count < PROBE_LOG_CAPACITY) g_log.entries[g_log.count] = {kind, a, b, c};
    ++g_log.count;
}

void Describe(VXPinProperties* p, void* variable, int32_t direction, int32_t datatype, const char* name,
              int32_t flags = 0) {
    p->variable_address = variable;
    p->direction = direction;
    p->datatype = datatype;
    p->name = name;
    p->default_value = direction == DR_OUT ? nullptr : "0";
    p->flags = flags;
}

}  // namespace

Module::Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}

void* Module::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_refuse_next_instance) {
        g_refuse_next_instance = false;
        return nullptr;
    }
    return ::operator new(size, std::nothrow);
}

Module::~Module() { Log(LOG_DESTROYED); }

bool Module::FillModuleProperties(VXModuleProperties* properties) {
    properties->id = "Probe";
    properties->name = "Framework Probe";
    properties->about = "test plug-in";
    return true;
}

void Module::Open() {
    Log(LOG_OPEN);
    SetProcessFunction(Routine(ROUTINE_ADD_ONE));
    VXModule_base::Open();
}

void Module::Close() { Log(LOG_CLOSE); }
void Module::Spare1() { Log(LOG_CALL_VIRTUAL); }
void Module::PlainCall() { Log(LOG_CALL_PLAIN); }
void Module::Restart() { Log(LOG_RESTART); }
void Module::RestartValue(int32_t value) { Log(LOG_RESTART_VALUE, value); }

void Module::OnDataEvent(uint32_t time_stamp, int32_t data, int16_t data2) {
    Log(LOG_DATA, static_cast<int32_t>(time_stamp), data, data2);
}

void Module::OnPinStatusChange(VXPin* pin) { Log(LOG_PIN_STATUS, pin->PinIndex(), pin->Status()); }

bool Module::getPinProperties(int32_t index, VXPinProperties* p) {
    Log(LOG_PIN_QUERY, index);
    switch (m_layout) {
        case LAYOUT_BASIC:
            switch (index) {
                case 0:
                    Describe(p, &m_in, DR_IN, DT_FSAMPLE, "In");
                    return true;
                case 1:
                    Describe(p, &m_out, DR_OUT, DT_FSAMPLE, "Out");
                    return true;
                case 2:
                    Describe(p, &m_choice, DR_IN, DT_ENUM, "Choice");
                    p->datatype_extra = "One=1,Two=2";
                    return true;
                case 3:
                    Describe(p, &m_flag, DR_PARAMETER, DT_BOOL, "Flag");
                    return true;
                case 4:
                    Describe(p, &m_level, DR_PARAMETER, DT_FLOAT, "Level");
                    return true;
                case 5:
                    Describe(p, &m_count, DR_PARAMETER, DT_INT, "Count");
                    return true;
                default:
                    return false;
            }
        case LAYOUT_AUTODUPLICATE:
            switch (index) {
                case 0:
                    Describe(p, &m_in, DR_IN, DT_FSAMPLE, "A");
                    return true;
                case 1:
                    Describe(p, &m_extra[0], DR_IN, DT_FSAMPLE, "B", IO_AUTODUPLICATE);
                    return true;
                default:
                    return false;
            }
        case LAYOUT_UI_ONLY_FIRST:
        case LAYOUT_UI_SHARED_FIRST: {
            const int32_t ui_flags =
                m_layout == LAYOUT_UI_ONLY_FIRST ? IO_UI_COMMUNICATION : IO_UI_COMMUNICATION | IO_UI_DSP_SHARED;
            switch (index) {
                case 0:
                    Describe(p, &m_count, DR_IN, DT_INT, "U", ui_flags);
                    return true;
                case 1:
                    Describe(p, &m_in, DR_IN, DT_FSAMPLE, "A");
                    return true;
                default:
                    return false;
            }
        }
        case LAYOUT_THREE:
            if (index < 0 || index > 2) return false;
            Describe(p, &m_extra[index], DR_IN, DT_FSAMPLE, index == 0 ? "A" : index == 1 ? "B" : "C");
            return true;
        case LAYOUT_NO_VARIABLES: {
            static const int32_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1};
            if (index < 0 || index >= static_cast<int32_t>(sizeof kTypes / sizeof kTypes[0])) return false;
            Describe(p, nullptr, DR_IN, kTypes[index], "T");
            return true;
        }
        case LAYOUT_FLAG_RULE:
            switch (index) {
                case 0:
                    Describe(p, &m_count, DR_IN, DT_INT, "Private", IO_PATCH_STORE | IO_PRIVATE);
                    return true;
                case 1:
                    Describe(p, &m_out, DR_OUT, DT_FSAMPLE, "Output", IO_PATCH_STORE);
                    return true;
                case 2:
                    Describe(p, &m_level, DR_IN, DT_FLOAT, "Ui", IO_PATCH_STORE | IO_UI_COMMUNICATION);
                    return true;
                case 3:
                    Describe(p, &m_in, DR_IN, DT_FSAMPLE, "Plain");
                    return true;
                case 4:
                    Describe(p, &m_flag, DR_IN, DT_BOOL, "Broken", IO_PATCH_STORE);
                    return true;
                default:
                    return false;
            }
        default:
            return false;
    }
}

VXProcessRoutine Module::Routine(int32_t which) {
    switch (which) {
        case ROUTINE_ADD_ONE:
            return ProcessRoutine<&Module::ProcessAddOne>();
        case ROUTINE_CONSTANT:
            return ProcessRoutine<&Module::ProcessConstant>();
        default:
            return ProcessRoutine<&VXModule_base::EmptyProcess>();
    }
}

void Module::ProcessAddOne(int32_t buffer_offset, int32_t sample_frames) {
    Log(LOG_PROCESS, buffer_offset, sample_frames, ROUTINE_ADD_ONE);
    if (m_in == nullptr || m_out == nullptr) return;
    for (int32_t j = buffer_offset; j < buffer_offset + sample_frames; ++j) m_out[j] = m_in[j] + 1.0f;
}

void Module::ProcessConstant(int32_t buffer_offset, int32_t sample_frames) {
    Log(LOG_PROCESS, buffer_offset, sample_frames, ROUTINE_CONSTANT);
    if (m_out == nullptr) return;
    for (int32_t j = buffer_offset; j < buffer_offset + sample_frames; ++j) m_out[j] = m_level;
}

void Module::OnHostMessage(int32_t value, int32_t index, void* ptr) {
    Log(LOG_HOST_MESSAGE, value, index);
    const auto* args = static_cast<const ProbeArgs*>(ptr);
    switch (value) {
        case PROBE_GET_LOG:
            *static_cast<ProbeLog**>(ptr) = &g_log;
            break;
        case PROBE_SET_LAYOUT:
            m_layout = index;
            break;
        case PROBE_ADD_EVENT:
            AddEvent(args->clock, args->value, args->pin, args->which, 7);
            break;
        case PROBE_ADD_CALL_EVENT:
            if (args->which == 0)
                AddCallEvent(args->clock, &Module::PlainCall);
            else
                AddCallEvent(args->clock, &VXModule_base::Spare1);
            break;
        case PROBE_GET_VALUE:
            *static_cast<float*>(ptr) = GetPin(index)->GetValue();
            break;
        case PROBE_TRANSMIT_VALUE:
            GetPin(args->pin)->TransmitPinValue(args->clock, args->value);
            break;
        case PROBE_QUERY_FLAG:
            *static_cast<int32_t*>(ptr) = GetPin(index)->QueryHostFlag() ? 1 : 0;
            break;
        case PROBE_TRANSMIT_STATUS:
            GetPin(args->pin)->TransmitStatusChange(args->clock, args->value);
            break;
        case PROBE_SET_ROUTINE:
            SetProcessFunction(Routine(index));
            break;
        case PROBE_GET_PIN: {
            VXPin* pin = GetPin(index);
            *static_cast<ProbePinInfo*>(ptr) = {pin->PinIndex(), pin->Status(), pin->Datatype(), pin->ValuePtr(),
                                                pin->Module()};
            break;
        }
        case PROBE_GET_ROUTINE_WORD: {
            const VXProcessRoutine r = Routine(index);
            *static_cast<intptr_t*>(ptr) = reinterpret_cast<intptr_t>(r.entry);
            break;
        }
        case PROBE_REFUSE_NEXT_INSTANCE:
            g_refuse_next_instance = true;
            break;
        default:
            break;
    }
}

}  // namespace probe

VX_REGISTER_MODULE(probe::Module)
