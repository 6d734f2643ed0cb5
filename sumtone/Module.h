// The summation oscillator: a series of sine partials at equally spaced
// frequencies with geometrically falling amplitudes, rendered in closed form,
// one-sided or two-sided, with the number of partials limited so that every
// partial stays below a highest allowed frequency.
//
// Module.cpp holds what the host sees (properties, pins, open, the
// gate-driven announcements, the two processing routines and the sleep
// countdown); SampleLoop.cpp runs the per-sample synthesis, with its
// arithmetic in SummationMath.h (SampleLanes.h for several samples at a
// time), the band limit in PartialCount.h and the forms used where the closed
// form cannot be evaluated as written in ClosedFormFallbacks.h.
#ifndef SUMTONE_MODULE_H
#define SUMTONE_MODULE_H

#include <cstdint>

#include "SampleLoop.h"
#include "VXModule_base.h"

namespace sumtone {

class Module : public VXModule_base {
public:
    // Inside makeModule. Member values come at Open.
    Module(vxaudioMasterCallback callback, void* host_data) noexcept;
    ~Module() override = default;
    // getModuleProperties, plug-in index 0.
    static bool FillModuleProperties(VXModuleProperties* properties);

    // Event delivery, between processing calls.
    void OnPinStatusChange(VXPin* pin) override;
    // Dispatcher calls.
    void Open() override;
    bool getPinProperties(int32_t index, VXPinProperties* properties) override;

    // Processing routines.
    void ProcessOscillator(int32_t buffer_offset, int32_t sample_frames);
    void ProcessOscillatorStatic(int32_t buffer_offset, int32_t sample_frames);

private:
    // Processing routine: announce the output as settled and switch to the
    // static routine, once per closing of the gate.
    void SettleOutput();
    // Processing routine: writes m_output[buffer_offset ... buffer_offset +
    // sample_frames - 1]; calls no framework service.
    void RenderSamples(int32_t buffer_offset, int32_t sample_frames);

    float* m_fc;
    float* m_fm1;
    float* m_n;
    float* m_a;
    float* m_gate;
    float* m_detune;
    float* m_maxfreq;
    float* m_output;
    LoopState m_loop;  // phases, frequency cache, phase scale
    LaneSet m_lanes;   // the processor's widest, chosen at Open
    // Written by the host only, through the "Mode" pin. Starts at the pin's
    // default so that a host that never writes it leaves a defined value;
    // Open must not touch it, the host may have written it already.
    int16_t m_mode = 1;
    bool m_output_static;
    // The gate's last notification began a stream (ST_RUN): its samples may
    // change at any sample with no further notification.
    bool m_gate_streams;
    int32_t m_sleep_countdown;
};

}  // namespace sumtone

#endif  // SUMTONE_MODULE_H
