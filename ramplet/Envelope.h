// The envelope's arithmetic apart from the module: the control inputs become
// segment times, steps and levels, and the segment state machine writes the
// output samples while following the gate. A plain object, state plus calls,
// that knows nothing of pins, routines or the host; the module (Module.cpp)
// feeds it the input samples, announces what its render call reports and
// decides when to sleep, and the tests and benchmarks drive it directly.
#ifndef RAMPLET_ENVELOPE_H
#define RAMPLET_ENVELOPE_H

#include <cstdint>

#include "EnvelopeHoldAvx2.h"

namespace ramplet {

// Segments of the envelope (Envelope::segment).
enum Segment : int32_t {
    ENV_IDLE = 0,     // writes 0.0 and waits for the gate
    ENV_ATTACK = 1,   // rises by attack_step towards peak_level
    ENV_DECAY = 2,    // falls by decay_step towards sustain_level
    ENV_SUSTAIN = 3,  // holds sustain_level
    ENV_RELEASE = 4   // falls by release_step towards 0
};

// All values are single precision: times in samples, steps in output units
// per sample, levels in output units. Nothing is set at construction; Start
// gives every member its value.
struct Envelope {
    float sustain_level;    // already multiplied by peak_level
    float peak_level;       // overall level, never below 0: the attack's goal
    float attack_samples;   // attack time
    float decay_samples;    // time in which the decay falls by half the peak level
    float release_samples;  // release time
    float attack_step;      // rise per sample in the attack
    float decay_step;       // fall per sample in the decay
    float release_step;     // fall per sample in the release
    float sample_rate;      // hertz, fixed at Start
    float level;            // the last sample written
    int32_t segment;        // a Segment
    bool avx2_holds;        // the idle and sustain holds use AVX2: where the processor has it

    // Idle at 0.0 with a peak of 1.0, a sustain level of 0.5, times of one
    // sample and no movement, until the inputs are applied.
    void Start(float rate);

    // One control input's new value. Each step moves the full peak level in
    // its segment's time, except the decay's, which moves half of it. A new
    // overall level rescales every step from the stored times and scales the
    // sustain input given with it.
    void SetAttack(float input);
    void SetDecay(float input);
    void SetSustain(float input);
    void SetRelease(float input);
    void SetOverallLevel(float input, float sustain_input);

    // Writes out[from] onwards, reading gate[] at the same positions (gate
    // null: the gate is not watched and never read), until the envelope
    // enters the idle, attack, sustain or release segment, where the output
    // stops (idle, sustain) or starts (attack, release) moving: returns that
    // sample, not yet written, for the caller to announce before it calls
    // again from there. Returns `frames` when every sample up to it is
    // written. The segment current at `from` begins there: its entry actions
    // run again, as at the start of every processing call. from < frames.
    int32_t Render(float* out, const float* gate, int32_t from, int32_t frames, bool reset_on_trigger) {
        // The watched holds, where the envelope spends most of its time, go
        // straight to their vector loops: the way through the segment
        // machine costs a good part of what a hold itself does.
        if (gate != nullptr && avx2_holds) {
            if (segment == ENV_SUSTAIN) {
                level = sustain_level;
                from = HoldSustainAvx2(out, gate, from, frames, level);
            } else if (segment == ENV_IDLE) {
                from = HoldIdleAvx2(out, gate, from, frames);
            }
            if (from == frames) return frames;
        }
        return RenderFrom(out, gate, from, frames, reset_on_trigger);
    }

    // Whether the output moves from the start of the current segment on.
    bool OutputMoves() const { return segment == ENV_ATTACK || segment == ENV_DECAY || segment == ENV_RELEASE; }

private:
    int32_t RenderFrom(float* out, const float* gate, int32_t from, int32_t frames, bool reset_on_trigger);
    template <bool kGateWatched>
    int32_t RenderSegments(float* out, const float* gate, int32_t i, int32_t n, bool reset_on_trigger);
};

}  // namespace ramplet

#endif  // RAMPLET_ENVELOPE_H
