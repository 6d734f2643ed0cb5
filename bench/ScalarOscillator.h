// The oscillator's per-sample loop written out plainly: one sample after
// another, every step in double precision and in the order the oscillator
// defines, with nothing arranged for speed beyond keeping the partial count
// from one sample to the next.
//
// It is the baseline that the plug-in's own loop is measured against, and it
// must give the plug-in's output bits exactly (tests/bench checks that), so a
// faster arrangement of the plug-in's loop can be compared with it both for
// speed and for correctness.
#ifndef VX_BENCH_SCALAROSCILLATOR_H
#define VX_BENCH_SCALAROSCILLATOR_H

#include <cstdint>

namespace vxbench {

// The seven sample inputs, indexed like the plug-in's pin buffers.
struct OscillatorInputs {
    const float* fc;
    const float* fm1;
    const float* n;
    const float* a;
    const float* gate;
    const float* detune;
    const float* maxfreq;
};

// What the plug-in keeps between processing calls, with its values after Open.
struct OscillatorState {
    explicit OscillatorState(float sample_rate) : phase_scale(2.0 / sample_rate) {}

    double phase_scale;          // half-cycles per sample for one hertz
    double phase = 0.0;          // lowest partial, half-cycles
    double spacing_phase = 0.0;  // partial spacing, half-cycles
    double cached_freq = -20.0;  // hertz belonging to cached_fc
    float cached_fc = -20.0f;
    int16_t mode = 1;  // 1 one-sided, anything else two-sided
};

// Writes out[buffer_offset ... buffer_offset + sample_frames - 1] from the
// inputs at the same positions ("maxfreq" and "N" at buffer_offset only), as
// one processing call of the plug-in does. Expects the SSE rounding mode at
// its default (round to nearest), as inside the plug-in's processing routine.
void RenderScalar(OscillatorState& state, const OscillatorInputs& in, float* out, int32_t buffer_offset,
                  int32_t sample_frames);

}  // namespace vxbench

#endif  // VX_BENCH_SCALAROSCILLATOR_H
