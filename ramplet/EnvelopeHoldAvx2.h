// The idle and sustain holds in 32-byte vectors, for processors with AVX2.
// Built only for x86-64: the 32-bit Windows toolchain does not keep 32-byte
// vectors aligned on the stack, and the 32-bit plug-ins run the SSE2 holds.
#ifndef RAMPLET_ENVELOPEHOLDAVX2_H
#define RAMPLET_ENVELOPEHOLDAVX2_H

#include <cstdint>

namespace ramplet {

// Whether this processor and its system run AVX2 code (always false where
// the holds below are not built).
bool HoldsCanUseAvx2();

// Write `value` from sample i on, thirty-two samples at a time, while no
// gate sample of a group ends the hold: exactly 0 ends the sustain, any
// other value the idle. Return the first sample not written, the start of
// the group that holds the end or of the last group shorter than 32, for
// the SSE2 hold to finish. Integer tests only, like the SSE2 hold.
int32_t HoldSustainAvx2(float* out, const float* gate, int32_t i, int32_t n, float value);
int32_t HoldIdleAvx2(float* out, const float* gate, int32_t i, int32_t n);

}  // namespace ramplet

#endif  // RAMPLET_ENVELOPEHOLDAVX2_H
