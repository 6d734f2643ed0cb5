#include "EnvelopeHoldAvx2.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ramplet {

#if defined(__x86_64__)

namespace {

// The same tests as the SSE2 hold's (Envelope.cpp), on eight lanes: the
// bits with the sign shifted out are 0 exactly for +0 and -0.
__attribute__((target("avx2"))) inline __m256i Load(const float* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i ZeroLanes(__m256i bits) {
    return _mm256_cmpeq_epi32(_mm256_add_epi32(bits, bits), _mm256_setzero_si256());
}

__attribute__((target("avx2"))) inline void Store32(float* out, __m256 v) {
    _mm256_storeu_ps(out, v);
    _mm256_storeu_ps(out + 8, v);
    _mm256_storeu_ps(out + 16, v);
    _mm256_storeu_ps(out + 24, v);
}

}  // namespace

bool HoldsCanUseAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

// A zero sample leaves a zero lane in the bits of the group and'ed
// together; so can a mix of nonzero samples that share no bit, and only
// then is each vector tested on its own.
__attribute__((target("avx2"))) int32_t HoldSustainAvx2(float* const out, const float* const gate, int32_t i,
                                                        const int32_t n, const float value) {
    const __m256 v = _mm256_set1_ps(value);
    for (; i + 32 <= n; i += 32) {
        const __m256i a = Load(gate + i), b = Load(gate + i + 8), c = Load(gate + i + 16), d = Load(gate + i + 24);
        const __m256i all = _mm256_and_si256(_mm256_and_si256(a, b), _mm256_and_si256(c, d));
        if (_mm256_movemask_epi8(ZeroLanes(all)) != 0) {
            const __m256i any = _mm256_or_si256(_mm256_or_si256(ZeroLanes(a), ZeroLanes(b)),
                                                _mm256_or_si256(ZeroLanes(c), ZeroLanes(d)));
            if (_mm256_movemask_epi8(any) != 0) break;
        }
        Store32(out + i, v);
    }
    return i;
}

// A nonzero sample shows in the bits of the group or'ed together.
__attribute__((target("avx2"))) int32_t HoldIdleAvx2(float* const out, const float* const gate, int32_t i,
                                                     const int32_t n) {
    const __m256 v = _mm256_setzero_ps();
    for (; i + 32 <= n; i += 32) {
        const __m256i any = _mm256_or_si256(_mm256_or_si256(Load(gate + i), Load(gate + i + 8)),
                                            _mm256_or_si256(Load(gate + i + 16), Load(gate + i + 24)));
        if (_mm256_movemask_epi8(ZeroLanes(any)) != -1) break;
        Store32(out + i, v);
    }
    return i;
}

#else

bool HoldsCanUseAvx2() { return false; }
int32_t HoldSustainAvx2(float*, const float*, int32_t i, int32_t, float) { return i; }
int32_t HoldIdleAvx2(float*, const float*, int32_t i, int32_t) { return i; }

#endif

}  // namespace ramplet
