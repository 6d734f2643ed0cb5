// The chunk of samples that the sample-by-sample steps hand over, and the
// arithmetic of the chunk with W samples side by side in GCC vectors of
// doubles. The shared stages of SummationMath.h run unchanged on the vectors;
// what is written here again for lanes (the ratio guard, the power with a
// count per lane, the reduction of nβ, the conversion to a float) performs on
// each lane the operations the one-sample form performs, with the same
// results bit for bit.
#ifndef SUMTONE_SAMPLELANES_H
#define SUMTONE_SAMPLELANES_H

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "ClosedFormFallbacks.h"
#include "SummationMath.h"

namespace sumtone {

// Small enough to stay in the first-level cache, large enough that the
// per-chunk work (the copy out, the guard scan) is spread thin.
constexpr int32_t kChunkSamples = 64;
// Chunks are padded to a multiple of the widest lane count.
constexpr int32_t kWidestLanes = 4;

// One entry per sample. A silent sample, and the padding, hold values that
// render +0 without touching any fallback; its output is overwritten anyway.
struct alignas(32) SampleChunk {
    double phase[kChunkSamples];          // θ in half-cycles, before the sample's advance
    double spacing_phase[kChunkSamples];  // β in half-cycles, likewise
    double count[kChunkSamples];          // n, the partials above the lowest
    int64_t terms[kChunkSamples];         // n + 1, the exponent of the power
    double ratio[kChunkSamples];          // the "a" input sample, not yet scaled or guarded
    float result[kChunkSamples];          // the rendered sample; NaN: to be redone one by one
    int32_t silent[kChunkSamples];        // positions of the silent samples
    int32_t size;                         // samples in the chunk
    int32_t padded_size;                  // rounded up to kWidestLanes
    int32_t silent_count;
    int32_t lowest_count;   // a range holding the count of every sounding sample
    int32_t highest_count;
};

template <int W>
struct Lanes {
    typedef double Doubles __attribute__((vector_size(8 * W)));
    typedef int64_t Masks __attribute__((vector_size(8 * W)));
    typedef float Floats __attribute__((vector_size(4 * W)));
};

template <class V, class E>
SUMTONE_INLINE V LoadLanes(const E* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class E, class V>
SUMTONE_INLINE void StoreLanes(E* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

// GuardRatio: |d| < k is d < k and d > -k, for NaN as well. (Two selects
// rather than one on the two masks combined: GCC takes combined masks apart
// lane by lane without SSE4.)
template <class D>
SUMTONE_INLINE D GuardRatioLanes(D a) {
    const D d = a - 1.0;
    const D guarded = Splat<D>(kGuardedRatio);
    return d < kRatioGuardDistance ? (d > -kRatioGuardDistance ? guarded : a) : a;
}

// PowerBySquaring with a count of its own in each lane. The squaring runs as
// long as the largest count needs; a lane whose exponent has run out keeps
// its product, just as its own loop would have stopped there.
template <class D, class M>
SUMTONE_INLINE D PowerByTermsLanes(D a, M terms, int64_t most_terms) {
    D r = Splat<D>(1.0);
    D b = a;
    for (int64_t e = most_terms; e > 0; e >>= 1) {
        const M odd = -(terms & 1);  // all ones where the exponent's bit is set
        r = (D)(((M)(r * b) & odd) | ((M)r & ~odd));
        b = b * b;
        terms >>= 1;
    }
    return r;
}

// ReduceSpacingMultiple. Adding and removing 1.5·2^52 rounds to an integer
// exactly as the conversion instruction does in the default rounding mode,
// halves to even, for magnitudes below 2^51; n·β/2 stays below 2^30.
template <class D>
SUMTONE_INLINE D ReduceSpacingMultipleLanes(D count, D spacing_phase) {
    constexpr double kRoundingShift = 6755399441055744.0;  // 1.5·2^52
    D x = count * spacing_phase * 0.5;
    x = x - (((x - 0.5) + kRoundingShift) - kRoundingShift);
    const D y = 2.0 * x;
    return y > 1.0 ? y - 2.0 : y;
}

// ToSample, for values that are finite; NaN stays NaN.
template <class F, class D>
SUMTONE_INLINE F ToSampleLanes(D value) {
    value = value > static_cast<double>(FLT_MAX) ? Splat<D>(FLT_MAX) : value;
    value = value < -static_cast<double>(FLT_MAX) ? Splat<D>(-FLT_MAX) : value;
    return __builtin_convertvector(value, F);
}

// Renders the chunk W samples at a time into result, NaN where
// RenderedSample must redo the sample: near a·e^(iβ) = 1, and where the plain
// closed form is not finite (a rendered sample is never NaN otherwise).
// Returns whether there is any such sample.
template <int W, bool kOneSided>
SUMTONE_INLINE bool RenderChunkLanes(SampleChunk& c) {
    static_assert(kWidestLanes % W == 0, "the padding covers every lane");
    using D = typename Lanes<W>::Doubles;
    using M = typename Lanes<W>::Masks;
    using F = typename Lanes<W>::Floats;
    const bool same_count = c.lowest_count == c.highest_count;
    const D redo = Splat<D>(NAN);
    D any_redo{};  // turns NaN in the lanes that met a sample to redo
    for (int32_t i = 0; i < c.padded_size; i += W) {
        const D phase = LoadLanes<D>(c.phase + i);
        const D spacing_phase = LoadLanes<D>(c.spacing_phase + i);
        const D multiple = ReduceSpacingMultipleLanes(LoadLanes<D>(c.count + i), spacing_phase);
        const SeriesAngles<D> angles = AngleSums(phase, spacing_phase, multiple);
        const D a = GuardRatioLanes(10.0 * LoadLanes<D>(c.ratio + i));
        // Silent samples and padding take the common count too: their
        // result is discarded.
        const D power = same_count ? PowerBySquaring(a, c.lowest_count)
                                   : PowerByTermsLanes(a, LoadLanes<M>(c.terms + i),
                                                       static_cast<int64_t>(c.highest_count) + 1);
        const D numerator = Numerator(kOneSided, angles, a, power);
        const D denominator = SpacingDenominator(a, angles.spacing.cosine);
        D value = ClosedFormSample(a, numerator, denominator, power);
        value = denominator < kNearSingularDistance ? redo : value;
        const D zero_if_finite = value - value;
        value = zero_if_finite == 0.0 ? value : redo;
        any_redo += zero_if_finite;
        StoreLanes(c.result + i, ToSampleLanes<F>(value));
    }
    bool any = false;
    for (int k = 0; k < W; ++k) any = any || any_redo[k] != any_redo[k];
    return any;
}

}  // namespace sumtone

#endif  // SUMTONE_SAMPLELANES_H
