// The module behind the deliberately faulty plug-ins that prove the
// validator catches what it should. Done right (Fault::None) it is a small,
// well-behaved module: its output glides towards "in" while "gate" is open
// (towards 0 while it is closed), announces itself as streaming while it
// moves and as settled once it arrives, and asks to sleep a block later.
// This one source is built once per fault, VX_FAULT naming the fault each
// library has (tests/plugins/CMakeLists.txt: faulty_nan is
// VX_FAULT=WritesNaN, and so on).
#include <signal.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "VXModule_base.h"
#include "VXPluginEntry.h"

namespace faulty {

enum class Fault {
    None,
    WritesNaN,           // a NaN at the sample where the glide arrives
    IgnoresOffset,       // reads and writes from the buffers' start, whatever buffer_offset says
    StampsInThePast,     // stamps from the start of the host's buffer, not the call's first sample
    CrashesOnNegative,   // a table lookup that cannot take a negative input
    NeverSleeps,         // announces its output as settled but never asks to sleep
    SettlesEarly,        // announces "settled" while the glide still has a little way to go
    AllocatesInProcess,  // a scratch vector per processing call
    HangsOnInfinity,     // a phase wrap that never ends for an infinite input
    SharesState,         // the glide's level lives in one place for every instance
    WritesInput,         // keeps its glide level in the "in" buffer
    SwitchesSilently,    // changes its processing routine without telling the host
    // Forgets which inputs stream: settles and sleeps once the glide arrives,
    // though a streaming gate may close at any sample without a notification.
    SleepsWhileStreaming,
};

#ifndef VX_FAULT
#error "VX_FAULT names the fault of the library being built"
#endif
constexpr Fault kFault = Fault::VX_FAULT;

class Module : public VXModule_base {
public:
    Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}

    static bool FillModuleProperties(VXModuleProperties* properties) {
        properties->id = "Faulty";
        properties->name = "Varnix Faulty Test Module";
        properties->about = "for the validator's tests";
        return true;
    }

    bool getPinProperties(int32_t index, VXPinProperties* p) override {
        switch (index) {
            case PIN_IN:
                Describe(p, &m_in, "in", DR_IN, "0");
                return true;
            case PIN_GATE:
                Describe(p, &m_gate, "gate", DR_IN, "10");
                return true;
            case PIN_OUT:
                Describe(p, &m_out, "out", DR_OUT, nullptr);
                return true;
            default:
                return false;
        }
    }

    void Open() override {
        SetProcessFunction(ProcessRoutine<&Module::ProcessGlide>());
        VXModule_base::Open();
        Level() = 0.0f;
        m_output_static = true;
        m_static_routine = false;
        m_running_inputs = 0;
        m_sleep_countdown = 0;
        m_phase = 0.0f;
    }

    void OnPinStatusChange(VXPin* pin) override {
        const uint32_t bit = 1u << (static_cast<uint32_t>(pin->PinIndex()) & 31u);
        if (pin->Status() == ST_RUN && kFault != Fault::SleepsWhileStreaming)
            m_running_inputs |= bit;
        else
            m_running_inputs &= ~bit;
        LeaveStatic();
    }

    void ProcessGlide(int32_t buffer_offset, int32_t sample_frames) {
        if (sample_frames <= 0) return;
        const int32_t first = kFault == Fault::IgnoresOffset ? 0 : buffer_offset;
        std::vector<float> scratch;
        if (kFault == Fault::AllocatesInProcess) scratch.assign(static_cast<size_t>(sample_frames), 0.0f);
        for (int32_t i = 0; i < sample_frames; ++i) {
            const float in = m_in[first + i];
            if (kFault == Fault::CrashesOnNegative && in < 0.0f) raise(SIGSEGV);  // stands for table[in * size]
            if (kFault == Fault::HangsOnInfinity) WrapPhase(in);
            const float target = m_gate[first + i] != 0.0f && std::isfinite(in) ? in : 0.0f;
            float& level = Level();
            const float gap = target - level;
            level = std::fabs(gap) <= kStep ? target : level + (gap > 0.0f ? kStep : -kStep);
            const bool arrived = level == target && m_running_inputs == 0;
            const bool settled = kFault == Fault::SettlesEarly
                                     ? std::fabs(target - level) < 4.0f * kStep && m_running_inputs == 0
                                     : arrived;
            if (kFault == Fault::WritesInput) m_in[first + i] = level;
            m_out[first + i] = kFault == Fault::WritesNaN && arrived && !m_output_static ? std::nanf("") : level;
            if (settled && !m_output_static) Announce(i, ST_ONE_OFF);
            if (!settled && m_output_static) Announce(i, ST_RUN);
        }
        if (!m_static_routine) return;
        if (m_sleep_countdown > 0) m_sleep_countdown -= sample_frames;
        if (m_sleep_countdown <= 0 && kFault != Fault::NeverSleeps) CallHost(HC_SLEEP, 0, 0, nullptr, 0.0f);
    }

private:
    enum : int32_t { PIN_IN = 0, PIN_GATE = 1, PIN_OUT = 2 };
    static constexpr float kStep = 1.0f / 64.0f;

    static void Describe(VXPinProperties* p, void* variable, const char* name, int32_t direction, const char* value) {
        p->variable_address = variable;
        p->name = name;
        p->direction = direction;
        p->datatype = DT_FSAMPLE;
        p->default_value = value;
    }

    float& Level() {
        static float shared = 0.0f;
        return kFault == Fault::SharesState ? shared : m_level;
    }

    void WrapPhase(float in) {
        m_phase += in;
        // Each pass counts, so the loop is not one the compiler may assume ends.
        while (m_phase >= 1.0f) {
            m_phase -= 1.0f;
            m_wraps = m_wraps + 1;
        }
        if (m_phase < 0.0f || !std::isfinite(m_phase)) m_phase = 0.0f;
    }

    void Announce(int32_t offset, int32_t state) {
        uint32_t clock = SampleClock() + static_cast<uint32_t>(offset);
        if (kFault == Fault::StampsInThePast)
            clock = static_cast<uint32_t>(CallHost(HC_BUFFER_CLOCK, PIN_OUT, 0, nullptr, 0.0f)) +
                    static_cast<uint32_t>(offset);
        // Without a host callback the host reports no pins, and there is no
        // one to tell.
        if (PinCount() > PIN_OUT) GetPin(PIN_OUT)->TransmitStatusChange(clock, state);
        m_output_static = state == ST_ONE_OFF;
        if (m_output_static)
            EnterStatic();
        else
            LeaveStatic();
    }

    void EnterStatic() {
        if (m_static_routine) return;
        m_sleep_countdown = BlockSize();
        m_static_routine = true;
        if (kFault == Fault::SwitchesSilently) {
            m_record.process_function = ProcessRoutine<&Module::ProcessGlideStatic>().entry;
            return;
        }
        SetProcessFunction(ProcessRoutine<&Module::ProcessGlideStatic>());
    }

    void LeaveStatic() {
        if (!m_static_routine) return;
        m_static_routine = false;
        SetProcessFunction(ProcessRoutine<&Module::ProcessGlide>());
    }

    // The same rendering under another routine, as modules that sleep have.
    void ProcessGlideStatic(int32_t buffer_offset, int32_t sample_frames) {
        ProcessGlide(buffer_offset, sample_frames);
    }

    float* m_in = nullptr;
    float* m_gate = nullptr;
    float* m_out = nullptr;
    float m_level = 0.0f;
    float m_phase = 0.0f;
    volatile uint32_t m_wraps = 0;
    bool m_output_static = true;
    bool m_static_routine = false;
    uint32_t m_running_inputs = 0;
    int32_t m_sleep_countdown = 0;
};

}  // namespace faulty

VX_REGISTER_MODULE(faulty::Module)
