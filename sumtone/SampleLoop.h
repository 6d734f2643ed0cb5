// The per-sample synthesis of one processing call, apart from the module so
// that every lane width can be run side by side on the same inputs.
//
// The loop works in chunks of samples. The steps that carry a value from one
// sample to the next (gate, frequency cache, partial count, phases and their
// wraps) run sample by sample and leave each sample's phases, count and ratio
// in a chunk; the polynomials, the power, the closed form and the conversion
// to a float then run over the chunk several samples at a time, each sample
// with exactly its own sequence of operations; the rare samples that need a
// fallback form of the closed form are redone one by one.
//
// Where inputs move from sample to sample (vibrato, glides, FM, sweeps),
// what a sample needs that depends on no other sample (the frequency of its
// "fc" by the deterministic exponential, its spacing and phase steps, and
// whether the carried count still fits it) is worked out over the chunk in
// lanes too, before the sample-by-sample steps, which are then left with
// little more than the phases.
#ifndef SUMTONE_SAMPLELOOP_H
#define SUMTONE_SAMPLELOOP_H

#include <cstdint>

namespace sumtone {

// What the loop keeps from one processing call to the next.
struct LoopState {
    double phase_scale;    // half-cycles per sample for one hertz: 2 / sample rate
    double phase;          // lowest partial, half-cycles in [-1, 1]
    double spacing_phase;  // partial spacing, half-cycles in [-1, 1]
    double cached_freq;    // hertz belonging to cached_fc
    float cached_fc;
};

// The call's buffers, each from the call's first sample on. "maxfreq" and
// "N" count from their first sample only.
struct LoopBuffers {
    const float* fc;
    const float* fm1;
    const float* n;
    const float* a;
    const float* gate;
    const float* detune;
    const float* maxfreq;
    float* out;
};

// How many samples the chunk's arithmetic takes at a time. Every set gives
// the same output bits.
enum class LaneSet {
    kScalar,  // one at a time: the plain reading of the arithmetic
    kSse2,    // two, in SSE2 registers (every x86 target)
    kAvx2,    // four, in AVX2 registers (x86_64 only, where the processor has AVX2 and FMA)
    // As kAvx2, with the frequencies of a moving "fc" eight at a time in
    // AVX-512 registers (x86_64 builds by GCC only, where the processor also
    // has AVX-512F).
    kAvx512,
};

// The widest set this processor runs; SSE2 on the 32-bit targets.
LaneSet WidestLaneSet();

// Whether this build and processor can run the set.
bool CanRun(LaneSet lanes);

// Writes in.out[0 … frames - 1]; frames >= 1. Expects the default SSE
// rounding mode, as every processing routine runs with.
void RenderSeries(LaneSet lanes, LoopState& state, const LoopBuffers& in, bool one_sided, int32_t frames);

}  // namespace sumtone

#endif  // SUMTONE_SAMPLELOOP_H
