// The chunk in AVX2 lanes, apart from the rest so that it can be compiled
// with the compiler's first scheduling pass: interleaving the long dependency
// chains of the polynomials makes the four lanes about 5% faster. Only the
// function below is compiled for AVX2; everything it uses is inlined into it.
#include "SampleLanes.h"

namespace sumtone {

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool RenderChunkAvx2(SampleChunk& c, bool one_sided, float* out) {
    return one_sided ? RenderChunkLanes<4, true>(c, out) : RenderChunkLanes<4, false>(c, out);
}
#endif

}  // namespace sumtone
