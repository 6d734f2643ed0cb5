#include "Module.h"

#include "VXPluginEntry.h"

namespace sumtone {

namespace {

enum : int32_t {
    PIN_FC = 0,
    PIN_FM1 = 1,
    PIN_N = 2,
    PIN_A = 3,
    PIN_GATE = 4,
    PIN_DETUNE = 5,
    PIN_MAXFREQ = 6,
    PIN_MODE = 7,
    PIN_OUTPUT = 8,
    PIN_COUNT = 9
};

}  // namespace

Module::Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}

bool Module::FillModuleProperties(VXModuleProperties* properties) {
    properties->id = "Sumtone";
    properties->name = "Varnix Sumtone Module";
    properties->about = "by Brannoc";
    return true;
}

// Dispatcher call (OP_GET_PIN_PROPERTIES), and the base's Open. Fields the
// table leaves out keep what the caller put in the record: flags and spare
// for every pin, datatype_extra for all but "Mode", default_value for
// "output".
bool Module::getPinProperties(int32_t index, VXPinProperties* properties) {
    struct PinRow {
        const char* name;
        int32_t direction;
        const char* default_value;
    };
    static const PinRow kPins[PIN_COUNT] = {
        {"fc", DR_IN, "0"},      {"fm1", DR_IN, "0"},  {"N", DR_IN, "0"},
        {"a", DR_IN, "0"},       {"gate", DR_IN, "0"}, {"detune", DR_IN, "0"},
        {"maxfreq", DR_IN, "0"}, {"Mode", DR_IN, "1"}, {"output", DR_OUT, nullptr},
    };
    void* const variables[PIN_COUNT] = {&m_fc, &m_fm1, &m_n, &m_a, &m_gate, &m_detune, &m_maxfreq, &m_mode, &m_output};
    const auto row = static_cast<uint32_t>(index);
    if (row >= static_cast<uint32_t>(PIN_COUNT)) return false;
    properties->variable_address = variables[row];
    properties->name = kPins[row].name;
    properties->direction = kPins[row].direction;
    if (row == PIN_MODE) {
        properties->datatype = DT_ENUM;
        properties->datatype_extra = "1-Sided=1,2-Sided=2";
    } else {
        properties->datatype = DT_FSAMPLE;
    }
    if (row != PIN_OUTPUT) properties->default_value = kPins[row].default_value;
    return true;
}

// Dispatcher call (OP_OPEN). The output counts as settled from the start, so
// nothing is announced until a notification finds the gate open. The cache
// starts at a pitch value that a first "fc" sample of -20.0 matches.
void Module::Open() {
    SetProcessFunction(ProcessRoutine<&Module::ProcessOscillator>());
    VXModule_base::Open();
    m_loop.cached_freq = -20.0;
    m_loop.cached_fc = -20.0f;
    m_output_static = true;
    m_gate_streams = false;
    m_loop.phase_scale = 2.0 / SampleRate();
    m_loop.phase = 0.0;
    m_loop.spacing_phase = 0.0;
    m_lanes = WidestLaneSet();
}

// Event delivery, for a notification on any pin. The gate decides on its own:
// an open gate means sound is coming, whichever input changed, so the normal
// routine goes back in and the output is announced as changing every time.
// Open is what the sample loop calls open: any gate other than 0, negative
// ones included. Were a negative gate taken as closed here, a module settled
// by an earlier 0 would keep asking to sleep while it sounds, and a host that
// honours the request would cut the note off.
//
// A streaming gate counts as open whatever its sample here: it may open at
// any later sample without another notification, and only a module that is
// still being processed can hear it.
void Module::OnPinStatusChange(VXPin* pin) {
    if (pin->PinIndex() == PIN_GATE) m_gate_streams = pin->Status() == ST_RUN;
    const float gate = GetPin(PIN_GATE)->GetValue();
    if (gate != 0.0f || m_gate_streams) {
        SetProcessFunction(ProcessRoutine<&Module::ProcessOscillator>());
        GetPin(PIN_OUTPUT)->TransmitStatusChange(SampleClock(), ST_RUN);
        m_output_static = false;
    }
}

// Processing routine. Once settled the announcement is not repeated and a
// running countdown is not restarted.
void Module::SettleOutput() {
    if (m_output_static) return;
    m_sleep_countdown = BlockSize();
    SetProcessFunction(ProcessRoutine<&Module::ProcessOscillatorStatic>());
    GetPin(PIN_OUTPUT)->TransmitStatusChange(SampleClock(), ST_ONE_OFF);
    m_output_static = true;
}

// Processing routine. Only the call's first gate sample settles the output;
// later gate samples are the sample loop's business. A closed gate settles
// nothing while it streams: the output stays silent only until the stream
// next opens, which no notification will tell. A call without samples has no
// first sample to look at, and buffer_offset may then lie past the buffers.
void Module::ProcessOscillator(int32_t buffer_offset, int32_t sample_frames) {
    if (sample_frames <= 0) return;
    if (m_gate[buffer_offset] == 0.0f && !m_gate_streams) SettleOutput();
    RenderSamples(buffer_offset, sample_frames);
}

// Processing routine while the output is settled: renders one more block's
// worth of samples, then asks the host on every call to stop calling. The
// countdown stops moving once it has run out, so a host that keeps calling
// for hours cannot wrap it around to a positive count.
void Module::ProcessOscillatorStatic(int32_t buffer_offset, int32_t sample_frames) {
    ProcessOscillator(buffer_offset, sample_frames);
    if (m_sleep_countdown > 0 && sample_frames > 0) m_sleep_countdown -= sample_frames;
    if (m_sleep_countdown <= 0) CallHost(HC_SLEEP, 0, 0, nullptr, 0.0f);
}

// Processing routine. "maxfreq" and "N" count from the call's first sample
// only; every other input is read afresh at every sample.
void Module::RenderSamples(int32_t buffer_offset, int32_t sample_frames) {
    const LoopBuffers buffers{m_fc + buffer_offset,      m_fm1 + buffer_offset,   m_n + buffer_offset,
                              m_a + buffer_offset,       m_gate + buffer_offset,  m_detune + buffer_offset,
                              m_maxfreq + buffer_offset, m_output + buffer_offset};
    RenderSeries(m_lanes, m_loop, buffers, m_mode == 1, sample_frames);
}

}  // namespace sumtone

VX_REGISTER_MODULE(sumtone::Module)
