// The envelope generator: a gate input, inputs for attack, decay, sustain,
// release and overall level, one output, and a setting that chooses whether
// a retrigger restarts from zero.
//
// Module.cpp holds what the host sees (properties, pins, open, restart,
// stream-state tracking, announcements, the two processing routines and the
// sleep countdown); Parameters.cpp turns the control inputs into times, steps
// and levels; Render.cpp runs the segment state machine over the samples.
#ifndef RAMPLET_MODULE_H
#define RAMPLET_MODULE_H

#include <cstdint>

#include "VXModule_base.h"

// Segments of the envelope (m_segment).
enum : int32_t {
    ENV_IDLE = 0,     // writes 0.0 and waits for the gate
    ENV_ATTACK = 1,   // rises by m_attack_step towards m_peak_level
    ENV_DECAY = 2,    // falls by m_decay_step towards m_sustain_level
    ENV_SUSTAIN = 3,  // holds m_sustain_level
    ENV_RELEASE = 4   // falls by m_release_step towards 0
};

class Module : public VXModule_base {
public:
    // Inside makeModule. Member values come at Open.
    Module(vxaudioMasterCallback callback, void* host_data);
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

    // Processing routine only (Parameters.cpp, Render.cpp). Three calls in
    // four just count, so only the examination is out of line.
    void CheckInputs(int32_t buffer_offset) {
        if ((m_call_count & 3u) == 0) ExamineInputs(buffer_offset);
        ++m_call_count;
    }
    void ExamineInputs(int32_t buffer_offset);
    void UpdateParameter(int32_t buffer_offset, int32_t which);
    void Render(int32_t buffer_offset, int32_t sample_frames);
    template <bool kGateWatched>
    void RenderSegments(float* out, const float* gate, int32_t sample_frames);

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
    float m_sustain_level;
    float m_peak_level;
    float m_last_attack;
    float m_last_decay;
    float m_last_sustain;
    float m_last_release;
    float m_last_level;
    float m_attack_samples;
    float m_decay_samples;
    float m_release_samples;
    float m_attack_step;
    float m_decay_step;
    float m_release_step;
    float m_sample_rate;
    float m_level;
    int32_t m_segment;
    int32_t m_sleep_countdown;
    bool m_static_routine;
    bool m_output_static;
    uint32_t m_running_inputs;
    bool m_watch_gate;
    uint32_t m_call_count;
};

#endif  // RAMPLET_MODULE_H
