#include "Module.h"

#include <cmath>
#include <cstring>

#include "VXPluginEntry.h"

namespace ramplet {

namespace {

enum : int32_t {
    PIN_GATE = 0,
    PIN_ATTACK = 1,
    PIN_DECAY = 2,
    PIN_SUSTAIN = 3,
    PIN_RELEASE = 4,
    PIN_OVERALL_LEVEL = 5,
    PIN_SIGNAL_OUT = 6,
    PIN_RESET_ON_TRIGGER = 7,
    PIN_COUNT = 8
};

// The host writes the setting's byte, so it is read as a byte: any value
// other than 0 means true.
bool SettingIsOn(const bool& setting) {
    unsigned char byte;
    std::memcpy(&byte, &setting, 1);
    return byte != 0;
}

// Whether an examination takes in `value`: a finite number other than the
// last one taken in, which is always finite. Decided on the bits, with the
// answers of the float comparisons under the default controls (-0 equals
// +0, a denormal is not 0), so that a call that finds nothing new need not
// switch the floating-point environment to find out.
bool IsNewValue(const float& value, const float& last) {
    uint32_t v, l;
    std::memcpy(&v, &value, sizeof v);
    std::memcpy(&l, &last, sizeof l);
    const bool finite = (v & 0x7F800000u) != 0x7F800000u;
    const bool same = v == l || ((v | l) << 1) == 0;
    return finite && !same;
}

}  // namespace

Module::Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}

bool Module::FillModuleProperties(VXModuleProperties* properties) {
    properties->id = "Ramplet";
    properties->name = "Varnix Ramplet Module";
    properties->about = "by Brannoc";
    return true;
}

// Dispatcher call (OP_GET_PIN_PROPERTIES), and the base's Open. Fields the
// table leaves out (datatype_extra, flags, spare) keep what the caller put
// in the record: zeros from Open, whatever the host left there otherwise.
bool Module::getPinProperties(int32_t index, VXPinProperties* properties) {
    struct PinRow {
        const char* name;
        int32_t direction;
        int32_t datatype;
        const char* default_value;
    };
    static const PinRow kPins[PIN_COUNT] = {
        {"Gate", DR_IN, DT_FSAMPLE, "1"},
        {"Attack", DR_IN, DT_FSAMPLE, "0"},
        {"Decay", DR_IN, DT_FSAMPLE, "5"},
        {"Sustain", DR_IN, DT_FSAMPLE, "7"},
        {"Release", DR_IN, DT_FSAMPLE, "4"},
        {"Overall Level", DR_IN, DT_FSAMPLE, "10"},
        {"Signal Out", DR_OUT, DT_FSAMPLE, nullptr},
        {"Reset Level on Trigger", DR_PARAMETER, DT_BOOL, "false"},
    };
    void* const variables[PIN_COUNT] = {&m_gate,    &m_attack,        &m_decay,      &m_sustain,
                                        &m_release, &m_overall_level, &m_signal_out, &m_reset_on_trigger};
    const auto row = static_cast<uint32_t>(index);
    if (row >= static_cast<uint32_t>(PIN_COUNT)) return false;
    properties->variable_address = variables[row];
    properties->direction = kPins[row].direction;
    properties->datatype = kPins[row].datatype;
    properties->name = kPins[row].name;
    properties->default_value = kPins[row].default_value;
    return true;
}

// Dispatcher call (OP_OPEN). The start values of the last examined inputs
// are a value no host sends, so the first processing call derives every
// time, step and level before it writes its first sample.
void Module::Open() {
    SetProcessFunction(Unguarded<&Module::ProcessEnvelope>());
    VXModule_base::Open();
    m_envelope.Start(SampleRate());
    m_last_attack = -999.0f;
    m_last_decay = -999.0f;
    m_last_sustain = -999.0f;
    m_last_release = -999.0f;
    m_last_level = -999.0f;
    m_static_routine = false;
    m_output_static = true;  // nothing announced yet: the output counts as settled
    m_running_inputs = 0;
    m_watch_gate = false;
    m_call_count = 0;
}

// Dispatcher call (OP_RESTART). The segment goes on; a sustain shows its
// level again from the next call, because the sustain reloads it on entry.
void Module::Restart() {
    m_envelope.level = 0.0f;
    VXModule_base::Restart();
}

// Event delivery. Only a notification on the gate means the gate carries
// notes worth following sample by sample; any other pin's notification stops
// the gate reads until the gate speaks again. Every notification wakes the
// module, since an input that moves may move the output.
//
// A control input that announces a change is examined at the next call, not
// up to three calls later: a module in sustain or idle would otherwise ask
// to sleep before it had seen the change, and a host that honours the
// request would never let it apply. The every-fourth-call rhythm goes on
// from there.
void Module::OnPinStatusChange(VXPin* pin) {
    const int32_t index = pin->PinIndex();
    m_watch_gate = index == PIN_GATE;
    if (index != PIN_GATE) m_call_count = (m_call_count + 3u) & ~3u;
    const uint32_t bit = uint32_t{1} << (static_cast<uint32_t>(index) & 31u);
    if (pin->Status() == ST_RUN) {
        m_running_inputs |= bit;
    } else {
        m_running_inputs &= ~bit;
    }
    LeaveStaticRoutine();
    AnnounceRunning(0);
}

// Processing routine while the output may move. A call that covers no
// sample is no call for the envelope: its buffer_offset may lie past the
// buffers, and counting it would shift or skip the examination of the
// control inputs.
void Module::ProcessEnvelope(int32_t buffer_offset, int32_t sample_frames) {
    if (sample_frames <= 0) return;
    Process(buffer_offset, sample_frames);
}

// Processing routine once the output has settled: renders as usual, and
// after one block's worth of samples asks the host to stop calling, again
// on every call while nothing wakes the module. The countdown stops moving
// once it has run out, so a host that keeps calling for hours cannot wrap
// it round to a positive count.
void Module::ProcessEnvelopeStatic(int32_t buffer_offset, int32_t sample_frames) {
    if (sample_frames <= 0) return;
    Process(buffer_offset, sample_frames);
    if (m_sleep_countdown > 0) m_sleep_countdown -= sample_frames;
    if (m_sleep_countdown <= 0 && m_static_routine && m_running_inputs == 0) {
        CallHost(HC_SLEEP, 0, 0, nullptr, 0.0f);
    }
}

// Both routines' work: the inputs, then the samples. The envelope computes
// in the plug-in's floating-point environment (vx::FpEnvironmentGuard), but
// switching to it costs two reads of MXCSR, which on some processors take
// longer than filling a 256-sample buffer. A held envelope does not compute,
// so HoldCall does without the switch. Both are built into each routine:
// a held call is over in a few dozen cycles, and every call level counts.
__attribute__((always_inline)) inline void Module::Process(int32_t buffer_offset, int32_t sample_frames) {
    if (HoldCall(buffer_offset, sample_frames)) return;
    vx::FpEnvironmentGuard fp;
    CheckInputs(buffer_offset);
    Render(buffer_offset, 0, sample_frames);
}

// A call that finds the envelope idle or sustaining and no new control
// input to take in: what CheckInputs and Render would do, with copies and
// integer tests only, up to the gate sample that ends the hold, and from
// there on (the attack or release, which compute) in the plug-in's
// environment. Returns false, having changed nothing, for any other call.
__attribute__((always_inline)) inline bool Module::HoldCall(int32_t buffer_offset, int32_t sample_frames) {
    if (m_envelope.OutputMoves()) return false;
    if ((m_call_count & 3u) == 0 && AnyInputChanged(buffer_offset)) return false;
    ++m_call_count;
    AnnounceStatic(0);
    EnterStaticRoutine();
    float* const out = m_signal_out + buffer_offset;
    const float* const gate = m_watch_gate ? m_gate + buffer_offset : nullptr;
    const int32_t end = m_envelope.Render(out, gate, 0, sample_frames, SettingIsOn(m_reset_on_trigger));
    if (end < sample_frames) {
        vx::FpEnvironmentGuard fp;
        Render(buffer_offset, end, sample_frames);
    }
    return true;
}

// The inputs are examined on every fourth call (CheckInputs), and at the
// call after a control input's notification, at the call's first sample,
// which keeps the power function out of most calls. A sample that is not a
// finite number is passed over: the envelope keeps what it derived from the
// last finite sample, so a passing fault upstream leaves no trace once the
// input is back.
void Module::ExamineInputs(int32_t buffer_offset) {
    const auto examine = [this, buffer_offset](const float* input, float& last, ControlInput which) {
        if (!IsNewValue(input[buffer_offset], last)) return;
        last = input[buffer_offset];
        UpdateParameter(buffer_offset, which);
    };
    examine(m_attack, m_last_attack, ControlInput::Attack);
    examine(m_decay, m_last_decay, ControlInput::Decay);
    examine(m_sustain, m_last_sustain, ControlInput::Sustain);
    examine(m_release, m_last_release, ControlInput::Release);
    examine(m_overall_level, m_last_level, ControlInput::OverallLevel);
}

// All five tests, without a branch between them: on a held call they are
// all false, and the branches would cost more than the tests.
__attribute__((always_inline)) inline bool Module::AnyInputChanged(int32_t buffer_offset) const {
    return IsNewValue(m_attack[buffer_offset], m_last_attack) | IsNewValue(m_decay[buffer_offset], m_last_decay) |
           IsNewValue(m_sustain[buffer_offset], m_last_sustain) | IsNewValue(m_release[buffer_offset], m_last_release) |
           IsNewValue(m_overall_level[buffer_offset], m_last_level);
}

// Processing routine: one changed control input to the envelope. A new
// overall level reads the sustain input again, to scale it; a non-finite
// one counts as the last finite sustain examined.
void Module::UpdateParameter(int32_t buffer_offset, ControlInput which) {
    switch (which) {
        case ControlInput::Attack:
            m_envelope.SetAttack(m_attack[buffer_offset]);
            break;
        case ControlInput::Decay:
            m_envelope.SetDecay(m_decay[buffer_offset]);
            break;
        case ControlInput::Sustain:
            m_envelope.SetSustain(m_sustain[buffer_offset]);
            break;
        case ControlInput::Release:
            m_envelope.SetRelease(m_release[buffer_offset]);
            break;
        case ControlInput::OverallLevel: {
            const float sustain = m_sustain[buffer_offset];
            m_envelope.SetOverallLevel(m_overall_level[buffer_offset],
                                       std::isfinite(sustain) ? sustain : m_last_sustain);
            break;
        }
    }
}

// Processing routine: the envelope writes the call's samples and stops
// wherever a segment begins in which the output starts or stops moving;
// the announcement is made there, stamped with that sample's offset in the
// call, and the rendering goes on. A segment current at the call's first
// sample is announced there too: it begins again with every call. `from`
// is 0, or the sample where HoldCall's hold ended.
void Module::Render(int32_t buffer_offset, int32_t from, int32_t sample_frames) {
    float* const out = m_signal_out + buffer_offset;
    const float* const gate = m_watch_gate ? m_gate + buffer_offset : nullptr;
    const bool reset_on_trigger = SettingIsOn(m_reset_on_trigger);
    for (int32_t i = from; i < sample_frames;) {
        if (m_envelope.OutputMoves()) {
            AnnounceRunning(i);
        } else {
            AnnounceStatic(i);
            EnterStaticRoutine();
        }
        i = m_envelope.Render(out, gate, i, sample_frames, reset_on_trigger);
    }
}

// A streaming input keeps the module processed: its output may be constant
// now but the input will be read again (EnterStaticRoutine tests it).
void Module::InstallStaticRoutine() {
    m_sleep_countdown = BlockSize();
    SetProcessFunction(Unguarded<&Module::ProcessEnvelopeStatic>());
    m_static_routine = true;
}

void Module::InstallNormalRoutine() {
    SetProcessFunction(Unguarded<&Module::ProcessEnvelope>());
    m_static_routine = false;
}

// The offset counts from the first sample of the current processing call,
// so the stamp is the clock of the sample where the output starts to move.
void Module::TransmitRunning(int32_t offset) {
    GetPin(PIN_SIGNAL_OUT)->TransmitStatusChange(SampleClock() + static_cast<uint32_t>(offset), ST_RUN);
    m_output_static = false;
}

void Module::TransmitStatic(int32_t offset) {
    GetPin(PIN_SIGNAL_OUT)->TransmitStatusChange(SampleClock() + static_cast<uint32_t>(offset), ST_ONE_OFF);
    m_output_static = true;
}

}  // namespace ramplet

VX_REGISTER_MODULE(ramplet::Module)
