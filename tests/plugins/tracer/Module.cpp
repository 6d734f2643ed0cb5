#include "Module.h"

#include "VXPluginEntry.h"

namespace tracer {

Module::Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}

bool Module::FillModuleProperties(VXModuleProperties* properties) {
    properties->id = "Tracer";
    properties->name = "Host Tracer";
    properties->about = "test plug-in";
    return true;
}

void Module::Open() {
    SetProcessFunction(ProcessRoutine<&Module::ProcessPass>());
    VXModule_base::Open();
}

bool Module::getPinProperties(int32_t index, VXPinProperties* p) {
    switch (index) {
        case TRACER_IN:
            *p = {&m_in, DR_IN, DT_FSAMPLE, "In", "0", nullptr, 0, 0};
            return true;
        case TRACER_CTL:
            *p = {&m_ctl, DR_IN, DT_FSAMPLE, "Ctl", "5", nullptr, 0, 0};
            return true;
        case TRACER_OUT:
            *p = {&m_out, DR_OUT, DT_FSAMPLE, "Out", nullptr, nullptr, 0, 0};
            return true;
        case TRACER_CHOICE:
            *p = {&m_choice, DR_IN, DT_ENUM, "Choice", "1", "A=1,B=2", 0, 0};
            return true;
        case TRACER_OFFSET:
            *p = {&m_offset, DR_PARAMETER, DT_FLOAT, "Offset", "0", nullptr, 0, 0};
            return true;
        default:
            return false;
    }
}

void Module::Log(int32_t kind, int32_t a, int32_t b, int32_t c) {
    if (m_log.count < TRACER_LOG_CAPACITY) m_log.entries[m_log.count] = {kind, SampleClock(), a, b, c};
    ++m_log.count;
}

void Module::OnPinStatusChange(VXPin* pin) {
    Log(TRACE_STATUS, pin->PinIndex(), pin->Status(), m_choice);
    if (pin->PinIndex() == TRACER_IN) GetPin(TRACER_OUT)->TransmitStatusChange(SampleClock(), pin->Status());
}

void Module::OnDataEvent(uint32_t time_stamp, int32_t data, int16_t data2) {
    Log(TRACE_DATA, static_cast<int32_t>(time_stamp), data2 - 1);
    if (data2 > 1) AddEvent(time_stamp + static_cast<uint32_t>(data), ET_DATA, data, data2 - 1, 0);
}

void Module::OnHostMessage(int32_t value, int32_t index, void* ptr) {
    const auto* args = static_cast<const TracerArgs*>(ptr);
    switch (value) {
        case TRACER_GET_LOG:
            *static_cast<TracerLog**>(ptr) = &m_log;
            break;
        case TRACER_SCHEDULE:
            AddEvent(args->clock, ET_DATA, args->interval, args->count, 0);
            break;
        case TRACER_SET_SLEEPY:
            m_sleepy = index != 0;
            break;
        case TRACER_ANNOUNCE:
            m_announce_pending = true;
            m_announce_offset = args->offset;
            m_announce_state = args->state;
            break;
        case TRACER_SET_ROUTINE:
            if (index == 0)
                SetProcessFunction(ProcessRoutine<&Module::ProcessPass>());
            else
                SetProcessFunction(ProcessRoutine<&Module::ProcessMinusOne>());
            break;
        default:
            break;
    }
}

void Module::AfterProcess(int32_t sample_frames) {
    if (m_announce_pending && m_announce_offset < sample_frames) {
        GetPin(TRACER_OUT)
            ->TransmitStatusChange(SampleClock() + static_cast<uint32_t>(m_announce_offset), m_announce_state);
        m_announce_pending = false;
    }
    if (m_sleepy) CallHost(HC_SLEEP, 0, 0, nullptr, 0.0f);
}

void Module::ProcessPass(int32_t buffer_offset, int32_t sample_frames) {
    Log(TRACE_PROCESS, buffer_offset, sample_frames);
    for (int32_t j = buffer_offset; j < buffer_offset + sample_frames; ++j) m_out[j] = m_in[j] + m_offset;
    AfterProcess(sample_frames);
}

void Module::ProcessMinusOne(int32_t buffer_offset, int32_t sample_frames) {
    Log(TRACE_PROCESS, buffer_offset, sample_frames);
    for (int32_t j = buffer_offset; j < buffer_offset + sample_frames; ++j) m_out[j] = -1.0f;
    AfterProcess(sample_frames);
}

}  // namespace tracer

VX_REGISTER_MODULE(tracer::Module)
