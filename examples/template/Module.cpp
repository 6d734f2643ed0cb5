#include "Module.h"

#include <cmath>

#include "VXPluginEntry.h"
#include "VXSdkVersion.h"

#if VX_SDK_VERSION_NUMBER < VX_SDK_MAKE_VERSION(1, 0, 0)
#error "this plug-in needs the SDK 1.0 or later"
#endif

namespace glide {

namespace {

// A glide slower than this would not be heard to move.
constexpr double kLongestTime = 60.0;

// How far the level may move in one sample for a glide that takes `time`
// seconds across 1.0. Zero, negative or NaN: no glide at all.
double StepPerSample(float time, double sample_rate) {
    if (!(time > 0.0f)) return INFINITY;
    const double seconds = time < kLongestTime ? time : kLongestTime;
    return 1.0 / (seconds * sample_rate);
}

}  // namespace

// The texts the host lists the module by. The identifier is the name given
// to vx_add_plugin, so a copy of this plug-in renamed in its project() line
// is a module of its own.
bool Module::FillModuleProperties(VXModuleProperties* properties) {
    properties->id = VX_PLUGIN_NAME;
    properties->name = "Glide";
    properties->about = "a slew limiter, from the plug-in template";
    return true;
}

// Dispatcher call: the host asks for one pin after another until the answer
// is false, and the base asks again at open to bind each pin to its member.
// Defaults are texts; an audio pin's default is in volts (10 V is 1.0).
bool Module::getPinProperties(int32_t index, VXPinProperties* properties) {
    switch (index) {
        case PIN_IN:
            properties->variable_address = &m_in;
            properties->name = "In";
            properties->direction = DR_IN;
            properties->datatype = DT_FSAMPLE;
            properties->default_value = "0";
            return true;
        case PIN_OUT:
            properties->variable_address = &m_out;
            properties->name = "Out";
            properties->direction = DR_OUT;
            properties->datatype = DT_FSAMPLE;
            return true;
        case PIN_TIME:
            properties->variable_address = &m_time;
            properties->name = "Time";
            properties->direction = DR_PARAMETER;
            properties->datatype = DT_FLOAT;
            properties->default_value = "0.1";
            return true;
        case PIN_GLIDE:
            properties->variable_address = &m_glide;
            properties->name = "Glide";
            properties->direction = DR_PARAMETER;
            properties->datatype = DT_ENUM;
            properties->default_value = "0";
            properties->datatype_extra = "Both=0,Rising=1,Falling=2";
            return true;
        default:
            return false;
    }
}

// Dispatcher call OP_OPEN. The routine goes in first, so that the host hears
// of it once; the base then creates the pins; the members come last.
void Module::Open() {
    // An output starts settled (ST_STATIC) at 0: the module starts in its
    // settled routine and sleeps after a block unless its input moves it.
    SetProcessFunction(ProcessRoutine<&Module::ProcessSettled>());
    VXModule_base::Open();
    const float rate = SampleRate();
    m_sample_rate = rate > 0.0f && std::isfinite(rate) ? rate : 44100.0;
    m_slew = Slew{};
    m_streaming = 0;
    m_output_settled = true;
    m_sleep_countdown = BlockSize();
}

// Event delivery: the source of a pin changed how it behaves, at the current
// sample clock. A sleeping module is woken by exactly this, and the next
// processing call finds out whether the output moves. Only streaming needs
// remembering: a one-off change is a new value in the buffer, which Render
// sees anyway.
void Module::OnPinStatusChange(VXPin* pin) {
    const uint32_t bit = 1u << (static_cast<uint32_t>(pin->PinIndex()) & 31u);
    if (pin->Status() == ST_RUN)
        m_streaming |= bit;
    else
        m_streaming &= ~bit;
}

// Processing routine while the output moves.
void Module::Process(int32_t buffer_offset, int32_t sample_frames) { Render(buffer_offset, sample_frames); }

// Processing routine once the output has settled: the same samples, and
// after a block's worth of them a request to sleep, repeated on every call
// until the host stops calling. Render switches back to Process as soon as
// the output moves again.
void Module::ProcessSettled(int32_t buffer_offset, int32_t sample_frames) {
    Render(buffer_offset, sample_frames);
    if (!m_output_settled) return;
    if (sample_frames > 0) m_sleep_countdown -= sample_frames;
    if (m_sleep_countdown <= 0) CallHost(HC_SLEEP, 0, 0, nullptr, 0.0f);
}

// The samples from buffer_offset on: no allocation, no host call but the
// announcements. The settings are read once per call, as the host writes
// them between calls.
void Module::Render(int32_t buffer_offset, int32_t sample_frames) {
    const double step = StepPerSample(m_time, m_sample_rate);
    const double rise = m_glide == GLIDE_FALLING ? INFINITY : step;
    const double fall = m_glide == GLIDE_RISING ? INFINITY : step;
    for (int32_t i = 0; i < sample_frames; ++i) {
        const bool arrived = m_slew.Step(m_in[buffer_offset + i], rise, fall);
        m_out[buffer_offset + i] = m_slew.Output();
        // Settled means nothing can move the output until a notification:
        // it has arrived and no input streams.
        const bool settled = arrived && m_streaming == 0;
        if (settled != m_output_settled) Announce(i, settled ? ST_ONE_OFF : ST_RUN);
    }
}

// Tells the host that the output starts moving (ST_RUN) or has settled
// (ST_ONE_OFF) at the call's sample `offset`, stamped with the clock of that
// sample, and installs the routine that goes with it.
void Module::Announce(int32_t offset, int32_t state) {
    // Without a host callback there are no pins, and no one to tell.
    if (PinCount() > PIN_OUT)
        GetPin(PIN_OUT)->TransmitStatusChange(SampleClock() + static_cast<uint32_t>(offset), state);
    m_output_settled = state == ST_ONE_OFF;
    if (m_output_settled) {
        m_sleep_countdown = BlockSize();
        SetProcessFunction(ProcessRoutine<&Module::ProcessSettled>());
    } else {
        SetProcessFunction(ProcessRoutine<&Module::Process>());
    }
}

}  // namespace glide

// The one line that names the module class this library offers.
VX_REGISTER_MODULE(glide::Module)
