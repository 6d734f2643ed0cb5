// The envelope generator: a gate input, inputs for attack, decay, sustain,
// release and overall level, one output, and a setting that chooses whether
// a retrigger restarts from zero.
//
// Module.cpp holds what the host sees (properties, pins, open, restart,
// stream-state tracking, the examination of the control inputs,
// announcements, the two processing routines and the sleep countdown);
// Envelope.cpp holds the envelope itself: the mapping of the control inputs
// to times, steps and levels, and the segment state machine that writes the
// samples.
#ifndef RAMPLET_MODULE_H
#define RAMPLET_MODULE_H

#include <cstdint>

#include "Envelope.h"
#include "VXModule_base.h"

namespace ramplet {

// The control inputs, in the order in which each examination takes them.
enum class ControlInput { Attack, Decay, Sustain, Release, OverallLevel };

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
    void Restart() override;

    // Processing routines.
    void ProcessEnvelope(int32_t buffer_offset, int32_t sample_frames);
    void ProcessEnvelopeStatic(int32_t buffer_offset, int32_t sample_frames);

private:
    // The host's entry to a processing routine. Unlike the framework's
    // ProcessRoutine, it leaves the floating-point environment to the
    // routine (Process), which switches to the plug-in's only when it computes.
    template <void (Module::*Routine)(int32_t, int32_t)>
    static void VX_CDECL Entry(VXModule_base* object, int32_t buffer_offset, int32_t sample_frames) {
        (static_cast<Module*>(object)->*Routine)(buffer_offset, sample_frames);
    }
    template <void (Module::*Routine)(int32_t, int32_t)>
    static VXProcessRoutine Unguarded() {
        return VXProcessRoutine{&Entry<Routine>, 0};
    }

    // Announcements and routine changes, used by OnPinStatusChange and Render.
    // Every processing call makes some of them, and nearly always they find
    // nothing to do: that test is inline, the host traffic out of line.
    void EnterStaticRoutine() {
        if (!m_static_routine && m_running_inputs == 0) InstallStaticRoutine();
    }
    void LeaveStaticRoutine() {
        if (m_static_routine) InstallNormalRoutine();
    }
    void AnnounceRunning(int32_t offset) {
        if (m_output_static) TransmitRunning(offset);
        LeaveStaticRoutine();
    }
    void AnnounceStatic(int32_t offset) {
        if (!m_output_static && m_running_inputs == 0) TransmitStatic(offset);
    }
    void InstallStaticRoutine();
    void InstallNormalRoutine();
    void TransmitRunning(int32_t offset);
    void TransmitStatic(int32_t offset);

    // Processing routine only. Three calls in four just count, so only the
    // examination is out of line.
    void CheckInputs(int32_t buffer_offset) {
        if ((m_call_count & 3u) == 0) ExamineInputs(buffer_offset);
        ++m_call_count;
    }
    void ExamineInputs(int32_t buffer_offset);
    bool AnyInputChanged(int32_t buffer_offset) const;
    void UpdateParameter(int32_t buffer_offset, ControlInput which);
    void Process(int32_t buffer_offset, int32_t sample_frames);
    bool HoldCall(int32_t buffer_offset, int32_t sample_frames);
    void Render(int32_t buffer_offset, int32_t from, int32_t sample_frames);

    float* m_gate;
    float* m_attack;
    float* m_decay;
    float* m_sustain;
    float* m_release;
    float* m_overall_level;
    float* m_signal_out;
    // Written by the host only. Starts false so that a host that never writes
    // it leaves a defined value; Open must not touch it, the host may have
    // written it already.
    bool m_reset_on_trigger = false;
    Envelope m_envelope;  // levels, times, steps, segment; started at Open
    float m_last_attack;
    float m_last_decay;
    float m_last_sustain;
    float m_last_release;
    float m_last_level;
    int32_t m_sleep_countdown;
    bool m_static_routine;
    bool m_output_static;
    uint32_t m_running_inputs;
    bool m_watch_gate;
    uint32_t m_call_count;
};

}  // namespace ramplet

#endif  // RAMPLET_MODULE_H
