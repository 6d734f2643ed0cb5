// The deterministic exponential of VXMath.h for several arguments side by
// side, in GCC vectors of doubles: the same operations in the same order on
// each lane, so each lane gets the bits that vx::Exp gives its argument (for
// the frequencies of pitches, with AVX2 or AVX-512, fused operations where
// they round the same and without the error terms that come out as zero). Only
// the arguments whose result is a normal double take this form (the lanes
// have none of vx::Exp's special cases); the caller gives the others to
// vx::Exp itself.
#ifndef SUMTONE_EXPLANES_H
#define SUMTONE_EXPLANES_H

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "SummationMath.h"
#include "VXMath.h"

namespace sumtone {

// Arguments in [-700, 700] scale by 2^e with e in [-1010, 1010]: never
// past the double range nor into the subnormals, where vx::Exp rounds
// another way, and never one of its special cases.

// Dependent vector types are only declared through a class template.
template <class D>
struct ExpLaneTypes {
    typedef int64_t Masks __attribute__((vector_size(sizeof(D))));
    typedef uint64_t Bits __attribute__((vector_size(sizeof(D))));
    typedef float Floats __attribute__((vector_size(sizeof(D) / 2)));
};

template <class D>
SUMTONE_INLINE void TwoSumLanes(D a, D b, D& s, D& err) {
    s = a + b;
    const D bv = s - a;
    err = (a - (s - bv)) + (b - bv);
}

template <class D>
SUMTONE_INLINE void FastTwoSumLanes(D a, D b, D& s, D& err) {
    s = a + b;
    err = b - (s - a);
}

template <class D>
SUMTONE_INLINE void SplitLanes(D a, D& hi, D& lo) {
    const D c = vx::detail::kSplitter * a;
    hi = c - (c - a);
    lo = a - hi;
}

template <class D>
SUMTONE_INLINE void TwoProdLanes(D a, D b, D& p, D& err) {
    p = a * b;
    D ah, al, bh, bl;
    SplitLanes(a, ah, al);
    SplitLanes(b, bh, bl);
    err = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

typedef double TablePair __attribute__((vector_size(16)));

// 2^(j/128) as its (hi, lo) pair. Vectors pass only through functions that
// are always inlined: one left out of line would not be compiled for the
// AVX2 lanes it is inlined into otherwise.
SUMTONE_INLINE TablePair TablePairAt(int64_t j) {
    TablePair p;
    std::memcpy(&p, &vx::detail::kExp2Table[2 * j], sizeof p);
    return p;
}

// The (hi, lo) pairs of 2^(j/128) for two or four lanes' j: each lane's
// pair in one load, then sorted into his and los.
template <class D>
SUMTONE_INLINE void TablePairLanes(typename ExpLaneTypes<D>::Masks j, D& th, D& tl) {
    constexpr int kLanes = sizeof(D) / sizeof(double);
    if constexpr (kLanes == 2) {
        const TablePair p0 = TablePairAt(j[0]), p1 = TablePairAt(j[1]);
        th = __builtin_shufflevector(p0, p1, 0, 2);
        tl = __builtin_shufflevector(p0, p1, 1, 3);
    } else {
        static_assert(kLanes == 4, "two or four lanes");
        const TablePair p0 = TablePairAt(j[0]), p1 = TablePairAt(j[1]), p2 = TablePairAt(j[2]),
                        p3 = TablePairAt(j[3]);
        th = __builtin_shufflevector(__builtin_shufflevector(p0, p1, 0, 2), __builtin_shufflevector(p2, p3, 0, 2), 0, 1,
                                     2, 3);
        tl = __builtin_shufflevector(__builtin_shufflevector(p0, p1, 1, 3), __builtin_shufflevector(p2, p3, 1, 3), 0, 1,
                                     2, 3);
    }
}

// The series of e^u past its first two terms, u·u (= sqh) times u times the
// rest, in vx::Exp's order.
template <class D>
SUMTONE_INLINE D SeriesRestLanes(D sqh, D uh) {
    return sqh * uh *
           (0x1.5555555555555p-3 +
            uh * (0x1.5555555555555p-5 +
                  uh * (0x1.1111111111111p-7 + uh * (0x1.6c16c16c16c17p-10 + uh * 0x1.a01a01a01a01ap-13))));
}

// vx::Exp(x) in every lane; every lane within ±700.
template <class D>
SUMTONE_INLINE D ExpLanes(D x) {
    using namespace vx::detail;
    using M = typename ExpLaneTypes<D>::Masks;
    // RoundToIntegral; the shifted sum holds k in its low bits, as its
    // exponent is that of 2^52 for every |k| below 2^51.
    const D shifted = x * kInvLn2N + kRoundShift;
    const D kd = shifted - kRoundShift;
    const M k = (M)shifted - (M)Splat<D>(kRoundShift);
    D a, ae, b, be, uh, ul;
    TwoSumLanes(x, -(kd * kLn2N1), a, ae);
    TwoSumLanes(a, -(kd * kLn2N2), b, be);
    TwoSumLanes(b, (ae + be) - kd * kLn2N3, uh, ul);

    // ScaleExp: 2^(k/128) from the table, e^(uh + ul) by its series.
    const M j = k & (kExpTableSize - 1);
    D th, tl;
    TablePairLanes<D>(j, th, tl);
    D sqh, sql;
    TwoProdLanes(uh, uh, sqh, sql);
    const D rest = SeriesRestLanes(sqh, uh);
    D ph, pe;
    FastTwoSumLanes(uh, 0.5 * sqh, ph, pe);
    const D pl = pe + (ul + (uh * ul + (0.5 * sql + rest)));
    D mh, ml;
    TwoProdLanes(th, ph, mh, ml);
    const D tail = ml + (th * pl + (tl + tl * ph));
    D s, se;
    FastTwoSumLanes(th, mh, s, se);
    const D w = se + tail;
    // Pow2(e), e = (k - j) / 128: (k - j) << 45 is e << 52, shifted as
    // unsigned since e may be negative.
    using U = typename ExpLaneTypes<D>::Bits;
    const U scale = ((U)(k - j) << 45) + (U{} + (uint64_t{1023} << 52));
    return (s + w) * (D)scale;
}

// "fc" values within ±100 give exponents within ±10·ln 2·100.5 < 700.
constexpr float kLanePitchLimit = 100.0f;

// Whether every one of count values (a multiple of 4) lies within
// ±kLanePitchLimit; NaN does not. Four at a time with SSE2.
inline bool PitchesWithinLaneLimit(const float* fc, int32_t count) {
    const __m128 high = _mm_set1_ps(kLanePitchLimit);
    const __m128 low = _mm_set1_ps(-kLanePitchLimit);
    __m128 within = _mm_castsi128_ps(_mm_set1_epi32(-1));
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 p = _mm_loadu_ps(fc + i);
        within = _mm_and_ps(within, _mm_and_ps(_mm_cmple_ps(p, high), _mm_cmpge_ps(p, low)));
    }
    return _mm_movemask_ps(within) == 0xF;
}

// PitchToFrequency of the floats at fc, one per lane.
template <class D>
SUMTONE_INLINE D PitchesToFrequencyGroup(const float* fc) {
    typename ExpLaneTypes<D>::Floats pitch;
    std::memcpy(&pitch, fc, sizeof pitch);
    const D octaves = 10.0 * __builtin_convertvector(pitch, D) - 5.0;
    return ExpLanes<D>(kLn2 * octaves) * 440.0;
}

// GCC only: clang checks each function's vector arguments against its own
// instruction set before inlining, so its builds (the fuzzers) take the split
// form above, which gives the same bits.
#if defined(__x86_64__) && !defined(__clang__)
#define SUMTONE_FUSED_PRODUCTS 1
typedef double FourDoubles __attribute__((vector_size(32)));
typedef double EightDoubles __attribute__((vector_size(64)));

// Fused operations, in four lanes with AVX2 and FMA and in eight with
// AVX-512. Not always inlined: a function compiled for an instruction set
// cannot be inlined into one that is not, so they reach their callers, which
// are compiled for it, through the callers' flatten attribute.

// a·b + c in one rounding.
__attribute__((target("avx2,fma"))) inline FourDoubles MulAdd(FourDoubles a, FourDoubles b, FourDoubles c) {
    return (FourDoubles)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
__attribute__((target("avx512f"))) inline EightDoubles MulAdd(EightDoubles a, EightDoubles b, EightDoubles c) {
    return (EightDoubles)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}

// c - a·b in one rounding.
__attribute__((target("avx2,fma"))) inline FourDoubles NegMulAdd(FourDoubles a, FourDoubles b, FourDoubles c) {
    return (FourDoubles)_mm256_fnmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
__attribute__((target("avx512f"))) inline EightDoubles NegMulAdd(EightDoubles a, EightDoubles b, EightDoubles c) {
    return (EightDoubles)_mm512_fnmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}

// a·b - p in one rounding. Where p = a·b and nothing underflows, that
// difference is a double, so the fused form gives exactly the bits of
// TwoProd's split form, in two instructions instead of seventeen.
__attribute__((target("avx2,fma"))) inline FourDoubles FusedProductError(FourDoubles a, FourDoubles b, FourDoubles p) {
    return (FourDoubles)_mm256_fmsub_pd((__m256d)a, (__m256d)b, (__m256d)p);
}
__attribute__((target("avx512f"))) inline EightDoubles FusedProductError(EightDoubles a, EightDoubles b,
                                                                         EightDoubles p) {
    return (EightDoubles)_mm512_fmsub_pd((__m512d)a, (__m512d)b, (__m512d)p);
}

// The (hi, lo) pairs of 2^(j/128) for each lane's j: four by their own loads,
// eight by two gathers.
__attribute__((target("avx2"))) inline void TablePairsAt(ExpLaneTypes<FourDoubles>::Masks j, FourDoubles& th,
                                                         FourDoubles& tl) {
    TablePairLanes<FourDoubles>(j, th, tl);
}
__attribute__((target("avx512f"))) inline void TablePairsAt(ExpLaneTypes<EightDoubles>::Masks j, EightDoubles& th,
                                                            EightDoubles& tl) {
    // Masked gathers into zeros: GCC's unmasked form reads an undefined
    // register, which it warns about.
    const __m512i at = (__m512i)(j + j);
    th = (EightDoubles)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, at, vx::detail::kExp2Table, 8);
    tl = (EightDoubles)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, at, vx::detail::kExp2Table + 1, 8);
}

// PitchToFrequency of every lane's pitch (a float within ±kLanePitchLimit)
// by the operations of vx::Exp with fused ones where they round the same:
//  - 10·fc is exact (24 + 4 significant bits), so 10·fc - 5 rounds once
//    either way; so are kd·kLn2N1 and kd·kLn2N2 (at most 32 significant bits
//    times |kd| < 2^18), 0.5·sqh and 0.5·sql;
//  - x - kd·kLn2N1 is exact, x lying within a factor of two of kd·kLn2N1
//    (Sterbenz), so the first TwoSum's error is +0 and drops out;
//  - the second and third TwoSum take the fast form: it gives the exact
//    error where the first term is the larger, which holds for nearly every
//    pitch; that the rest come out the same too was checked for every float
//    within the limit (tests/sumtone/test_lane_sets.cpp tells how to rerun
//    that);
//  - 440 times the scaled sum is the scaled product with 440, every result
//    being a normal double, and scaling a normal double by 2^e adds e to its
//    exponent field.
template <class D>
SUMTONE_INLINE D PitchesToFrequencyFused(D pitch) {
    using namespace vx::detail;
    using M = typename ExpLaneTypes<D>::Masks;
    using U = typename ExpLaneTypes<D>::Bits;
    const D octaves = MulAdd(pitch, Splat<D>(10.0), Splat<D>(-5.0));
    const D x = kLn2 * octaves;
    const D shifted = x * kInvLn2N + kRoundShift;
    const D kd = shifted - kRoundShift;
    const M k = (M)shifted - (M)Splat<D>(kRoundShift);
    const D a = NegMulAdd(kd, Splat<D>(kLn2N1), x);
    const D b = NegMulAdd(kd, Splat<D>(kLn2N2), a);
    const D be = NegMulAdd(kd, Splat<D>(kLn2N2), a - b);
    D uh, ul;
    FastTwoSumLanes(b, be - kd * kLn2N3, uh, ul);

    const M j = k & (kExpTableSize - 1);
    D th, tl;
    TablePairsAt(j, th, tl);
    D sqh = uh * uh;
    const D sql = FusedProductError(uh, uh, sqh);
    const D rest = SeriesRestLanes(sqh, uh);
    const D half = Splat<D>(0.5);
    const D ph = MulAdd(half, sqh, uh);
    const D pe = MulAdd(half, sqh, uh - ph);
    const D pl = pe + (ul + (uh * ul + MulAdd(half, sql, rest)));
    const D mh = th * ph;
    const D ml = FusedProductError(th, ph, mh);
    const D tail = ml + (th * pl + (tl + tl * ph));
    D s, se;
    FastTwoSumLanes(th, mh, s, se);
    const D w = se + tail;
    // e = (k - j) / 128: (k - j) << 45 is e << 52, shifted as unsigned since
    // e may be negative.
    return (D)((U)((s + w) * 440.0) + ((U)(k - j) << 45));
}

template <class D>
SUMTONE_INLINE D PitchesToFrequencyFusedGroup(const float* fc) {
    typename ExpLaneTypes<D>::Floats pitch;
    std::memcpy(&pitch, fc, sizeof pitch);
    return PitchesToFrequencyFused(__builtin_convertvector(pitch, D));
}
#endif

// One group of PitchesToFrequenciesLanes.
template <class D, bool kFused>
SUMTONE_INLINE D FrequencyGroup(const float* fc) {
#if defined(SUMTONE_FUSED_PRODUCTS)
    if constexpr (kFused) {
        return PitchesToFrequencyFusedGroup<D>(fc);
    } else {
        return PitchesToFrequencyGroup<D>(fc);
    }
#else
    return PitchesToFrequencyGroup<D>(fc);
#endif
}

// PitchToFrequency of count floats (a multiple of 4) into freq, in lanes of
// D, with fused operations where kFused and this build has them (then in a
// function compiled for them and flattened); eight lanes leave a last four
// to four lanes.
template <class D, bool kFused = false>
SUMTONE_INLINE void PitchesToFrequenciesLanes(const float* fc, double* freq, int32_t count) {
    if (!PitchesWithinLaneLimit(fc, count)) {
        for (int32_t i = 0; i < count; ++i) freq[i] = PitchToFrequency(fc[i]);
        return;
    }
    constexpr int32_t kLanes = sizeof(D) / sizeof(double);
    // Two groups at a time: their long dependency chains interleave.
    int32_t i = 0;
    for (; i + 2 * kLanes <= count; i += 2 * kLanes) {
        const D f0 = FrequencyGroup<D, kFused>(fc + i);
        const D f1 = FrequencyGroup<D, kFused>(fc + i + kLanes);
        std::memcpy(freq + i, &f0, sizeof f0);
        std::memcpy(freq + i + kLanes, &f1, sizeof f1);
    }
    for (; i + kLanes <= count; i += kLanes) {
        const D f = FrequencyGroup<D, kFused>(fc + i);
        std::memcpy(freq + i, &f, sizeof f);
    }
#if defined(SUMTONE_FUSED_PRODUCTS)
    if constexpr (kLanes == 8) {
        if (i < count) {
            const FourDoubles f = FrequencyGroup<FourDoubles, kFused>(fc + i);
            std::memcpy(freq + i, &f, sizeof f);
        }
    }
#endif
}

}  // namespace sumtone

#endif  // SUMTONE_EXPLANES_H
