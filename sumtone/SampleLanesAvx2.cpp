// The chunk in AVX2 lanes, apart from the rest so that it can be compiled
// with the compiler's first scheduling pass: interleaving the long dependency
// chains of the polynomials makes the four lanes about 5% faster. Only the
// functions below are compiled for AVX2 (and AVX-512); everything they use is
// inlined into them.
#include "SampleLanes.h"

namespace sumtone {

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool RenderChunkAvx2(SampleChunk& c, bool one_sided, float* out) {
    return one_sided ? RenderChunkLanes<4, true>(c, out) : RenderChunkLanes<4, false>(c, out);
}

__attribute__((target("avx2"))) uint64_t MovingStepsAvx2(SampleChunk& c, const float* gate, const float* fm1,
                                                         const float* detune, const MovingCount& m, int32_t from) {
    return MovingStepsLanes<4>(c, gate, fm1, detune, m, from);
}

__attribute__((target("avx2,fma"), flatten)) void PitchesToFrequenciesAvx2(SampleChunk& c, const float* fc) {
    PitchesToFrequenciesChunk<4, true>(c, fc);
}
#endif

#if defined(SUMTONE_FUSED_PRODUCTS)
__attribute__((target("avx512f,avx2,fma"), flatten)) void PitchesToFrequenciesAvx512(SampleChunk& c, const float* fc) {
    PitchesToFrequenciesChunk<8, true>(c, fc);
}
#endif

}  // namespace sumtone
