// The chunk of samples that the sample-by-sample steps hand over, and the
// arithmetic of the chunk with W samples side by side in GCC vectors of
// doubles. The shared stages of SummationMath.h run unchanged on the vectors;
// what is written here again for lanes (the power with a count per lane, the
// reduction of nβ, the conversion to a float) performs on each lane the
// operations the one-sample form performs, with the same results bit for bit.
#ifndef SUMTONE_SAMPLELANES_H
#define SUMTONE_SAMPLELANES_H

#include <emmintrin.h>

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "ClosedFormFallbacks.h"
#include "ExpLanes.h"
#include "SampleLoop.h"
#include "SummationMath.h"

namespace sumtone {

// Small enough to stay in the first-level cache, large enough that the
// per-chunk work (the input scans, the ratio copy, the count range) is
// spread thin; 64 also fits the scan's bit mask.
constexpr int32_t kChunkSamples = 64;
// Chunks are padded to a multiple of the widest lane count.
constexpr int32_t kWidestLanes = 4;

// The samples of a chunk as the arithmetic needs them. A silent sample holds
// phases 0, the count around it and its own "a" input, the padding phases 0
// and the last count and input: their results are overwritten or never
// copied out.
struct alignas(32) SampleChunk {
    double phase[kChunkSamples];          // θ in half-cycles, before the sample's advance
    double spacing_phase[kChunkSamples];  // β in half-cycles, likewise
    float ratio[kChunkSamples];           // the "a" inputs, not yet scaled or guarded
    // Where inputs move from sample to sample: each sample's "fc" input
    // (the last repeated into the padding), its frequency f (the frequency
    // cache's value there), spacing S, and its phase and spacing steps side
    // by side (steps[2i], steps[2i + 1]), as both phases advance together.
    float pitch[kChunkSamples];
    double lowest[kChunkSamples];
    double spacing[kChunkSamples];
    double steps[2 * kChunkSamples];
    // The count changes seldom: it is recorded where it changes, as runs
    // starting at run_start[k] with the count run_count[k].
    int32_t run_start[kChunkSamples];
    int32_t run_count[kChunkSamples];
    int32_t runs;
    // Each sample's count, filled from the runs only where the counts differ.
    double count[kChunkSamples];
    int64_t terms[kChunkSamples];   // count + 1, the power's exponent
    float result[kChunkSamples];    // a last group reaching past the chunk
    int32_t silent[kChunkSamples];  // positions of the silent samples
    int32_t size;                   // samples in the chunk
    int32_t padded_size;            // rounded up to kWidestLanes
    int32_t silent_count;
    int32_t lowest_count;  // over the runs; lowest > highest: no sample sounds
    int32_t highest_count;
    bool same_ratio;  // every ratio in the chunk has the same bits
};

// Fills count and terms from the runs.
inline void ExpandCounts(SampleChunk& c) {
    for (int32_t k = 0; k < c.runs; ++k) {
        const int32_t from = k == 0 ? 0 : c.run_start[k];
        const int32_t to = k + 1 < c.runs ? c.run_start[k + 1] : c.padded_size;
        for (int32_t i = from; i < to; ++i) {
            c.count[i] = static_cast<double>(c.run_count[k]);
            c.terms[i] = static_cast<int64_t>(c.run_count[k]) + 1;
        }
    }
}

// GCC's generic vectors: W = 2 is what an SSE2 register holds, W = 4 is
// compiled for AVX2 where it is inlined into a function marked for it.
template <int W>
struct Lanes {
    typedef double Doubles __attribute__((vector_size(8 * W)));
    typedef int64_t Masks __attribute__((vector_size(8 * W)));
    typedef float Floats __attribute__((vector_size(4 * W)));
};

using Pair = Lanes<2>::Doubles;

template <class D>
struct MaskOf {
    typedef int64_t Type __attribute__((vector_size(sizeof(D))));
};

template <class D>
struct FloatsOf {
    typedef float Type __attribute__((vector_size(sizeof(D) / 2)));
};

template <class V, class E>
SUMTONE_INLINE V LoadLanes(const E* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lane masks, held as doubles with all bits set (true) or clear (false).
// Written out for SSE2: GCC's generic comparisons and bit operations on
// 64-bit lanes fall back to lane-by-lane code without SSE4.
template <class D>
SUMTONE_INLINE D LessLanes(D a, D b) {
    return (D)(a < b);
}
SUMTONE_INLINE Pair LessLanes(Pair a, Pair b) { return _mm_cmplt_pd(a, b); }

// NaN is not at most anything.
template <class D>
SUMTONE_INLINE D NotAtMostLanes(D a, D b) {
    return (D) ~(a <= b);
}
SUMTONE_INLINE Pair NotAtMostLanes(Pair a, Pair b) { return _mm_cmpnle_pd(a, b); }

// a <= b and a >= b, false where either is NaN, as the scalar comparisons.
template <class D>
SUMTONE_INLINE D NotGreaterLanes(D a, D b) {
    return (D)(a <= b);
}
SUMTONE_INLINE Pair NotGreaterLanes(Pair a, Pair b) { return _mm_cmple_pd(a, b); }

template <class D>
SUMTONE_INLINE D NotLessLanes(D a, D b) {
    return (D)(a >= b);
}
SUMTONE_INLINE Pair NotLessLanes(Pair a, Pair b) { return _mm_cmpge_pd(a, b); }

template <class D>
SUMTONE_INLINE D AndLanes(D a, D b) {
    using M = typename MaskOf<D>::Type;
    return (D)((M)a & (M)b);
}
SUMTONE_INLINE Pair AndLanes(Pair a, Pair b) { return _mm_and_pd(a, b); }

template <class D>
SUMTONE_INLINE D OrLanes(D a, D b) {
    using M = typename MaskOf<D>::Type;
    return (D)((M)a | (M)b);
}
SUMTONE_INLINE Pair OrLanes(Pair a, Pair b) { return _mm_or_pd(a, b); }

template <class D>
SUMTONE_INLINE bool AnyLane(D mask) {
    using M = typename MaskOf<D>::Type;
    const M bits = (M)mask;
    bool any = false;
    for (size_t k = 0; k < sizeof(D) / sizeof(double); ++k) any = any || bits[k] != 0;
    return any;
}
SUMTONE_INLINE bool AnyLane(Pair mask) { return _mm_movemask_pd(mask) != 0; }

// Bit l set where lane l of the mask is.
template <class D>
SUMTONE_INLINE uint32_t LaneBits(D mask) {
    using M = typename MaskOf<D>::Type;
    const M bits = (M)mask;
    uint32_t out = 0;
    for (size_t k = 0; k < sizeof(D) / sizeof(double); ++k) out |= static_cast<uint32_t>(bits[k] != 0) << k;
    return out;
}
SUMTONE_INLINE uint32_t LaneBits(Pair mask) { return static_cast<uint32_t>(_mm_movemask_pd(mask)); }
// Four lanes: narrowed to 32-bit lanes, which SSE reads in one instruction.
SUMTONE_INLINE uint32_t LaneBits(Lanes<4>::Doubles mask) {
    typedef int32_t Words __attribute__((vector_size(16)));
    const Words words = __builtin_convertvector((Lanes<4>::Masks)mask, Words);
    return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps((__m128i)words)));
}

// |x|: the sign bit cleared.
template <class D>
SUMTONE_INLINE D MagnitudeLanes(D x) {
    return AndLanes(x, (D)(typename MaskOf<D>::Type{} + INT64_MAX));
}

// The lanes as floats, rounded by the conversion instruction like ToSample's
// static_cast.
template <class D>
SUMTONE_INLINE void StoreSamples(float* p, D x) {
    const auto samples = __builtin_convertvector(x, typename FloatsOf<D>::Type);
    std::memcpy(p, &samples, sizeof samples);
}
SUMTONE_INLINE void StoreSamples(float* p, Pair x) { _mm_storel_pi(reinterpret_cast<__m64*>(p), _mm_cvtpd_ps(x)); }

// The lanes whose ratio GuardRatio would replace: |d| < k is d < k and
// d > -k, for NaN as well.
template <class D>
SUMTONE_INLINE D NearUnitRatioLanes(D a) {
    const D d = a - 1.0;
    return AndLanes(LessLanes(d, Splat<D>(kRatioGuardDistance)), LessLanes(Splat<D>(-kRatioGuardDistance), d));
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
// halves to even, for magnitudes below 2^51; n·β/2 stays below 2^30. The
// final correction subtracts 2 or +0, and y - +0 is y.
template <class D>
SUMTONE_INLINE D ReduceSpacingMultipleLanes(D count, D spacing_phase) {
    constexpr double kRoundingShift = 6755399441055744.0;  // 1.5·2^52
    D x = count * spacing_phase * 0.5;
    x = x - (((x - 0.5) + kRoundingShift) - kRoundingShift);
    const D y = 2.0 * x;
    return y - AndLanes(LessLanes(Splat<D>(1.0), y), Splat<D>(2.0));
}

// How the chunk's ratios and counts vary, from least to most.
enum class Held {
    kRatioAndCount,  // one ratio and one count: a and the power are the same in every lane
    kCount,          // one count, a ratio per sample
    kNothing,        // a count and a ratio per sample
};

// Renders the chunk W samples at a time into out, NaN where
// RenderedSample must redo the sample: near a·e^(iβ) = 1, with a ratio the
// guard would replace, and where the plain closed form is not finite or
// beyond the float range (no rendered sample is NaN otherwise). Returns
// whether there is any such sample.
// What the groups of one chunk share.
template <class D>
struct GroupShared {
    D held_ratio;  // a, with one ratio and one count in the chunk
    D held_power;  // a^(n+1), likewise
    D held_count;  // n, with one count
    int32_t count;
    int64_t most_terms;
};

// The sines and cosines of the samples [i, i + W): the polynomials' share of
// the work.
template <int W, Held kHeld, class D>
SUMTONE_INLINE SeriesAngles<D> GroupSinCos(const SampleChunk& c, const GroupShared<D>& shared, int32_t i) {
    const D phase = LoadLanes<D>(c.phase + i);
    const D spacing_phase = LoadLanes<D>(c.spacing_phase + i);
    const D count = kHeld == Held::kNothing ? LoadLanes<D>(c.count + i) : shared.held_count;
    const D multiple = ReduceSpacingMultipleLanes(count, spacing_phase);
    // As AngleSums, without the angle sums.
    SeriesAngles<D> t;
    t.lowest = SinCosHalfCycles(phase);
    t.spacing = SinCosHalfCycles(spacing_phase);
    t.multiple = SinCosHalfCycles(multiple);
    return t;
}

// Renders the samples [i, i + W) from their sines and cosines into out (into
// result past the chunk's end), NaN where RenderedSample must redo the
// sample: near a·e^(iβ) = 1, with a ratio the guard would replace, and where
// the plain closed form is not finite or beyond the float range (no rendered
// sample is NaN otherwise). Returns the lanes to redo.
template <int W, bool kOneSided, Held kHeld, class D>
SUMTONE_INLINE D RenderGroup(SampleChunk& c, const GroupShared<D>& shared, int32_t i, SeriesAngles<D> angles,
                             float* out) {
    using M = typename Lanes<W>::Masks;
    using F = typename Lanes<W>::Floats;
    CombineAngles(angles);
    D a = shared.held_ratio;
    D power = shared.held_power;
    D redo{};
    if constexpr (kHeld != Held::kRatioAndCount) {
        a = 10.0 * __builtin_convertvector(LoadLanes<F>(c.ratio + i), D);
        redo = NearUnitRatioLanes(a);
        power = kHeld == Held::kCount ? PowerBySquaring(a, shared.count)
                                      : PowerByTermsLanes(a, LoadLanes<M>(c.terms + i), shared.most_terms);
    }
    const D numerator = Numerator(kOneSided, angles, a, power);
    const D denominator = SpacingDenominator(a, angles.spacing.cosine);
    const D value = ClosedFormSample(a, numerator, denominator, power);
    // |value| <= FLT_MAX fails for NaN, infinities and values ToSample
    // would saturate.
    redo = OrLanes(redo, OrLanes(LessLanes(denominator, Splat<D>(kNearSingularDistance)),
                                 NotAtMostLanes(MagnitudeLanes(value), Splat<D>(FLT_MAX))));
    StoreSamples(i + W <= c.size ? out + i : c.result + i, OrLanes(value, redo));  // all bits set: NaN
    return redo;
}

// Renders the chunk into out[0 … c.size - 1]; returns whether any sample is
// to be redone. With two lanes the polynomials of the next group are issued
// before the closed form of this one, so that the long dependency chains of
// both are in flight together (about 5% faster on the 32-bit targets, where
// few registers make the compiler keep the order as written); with four
// lanes the compiler's own scheduling does better.
template <int W, bool kOneSided, Held kHeld>
SUMTONE_INLINE bool RenderGroups(SampleChunk& c, float* out) {
    static_assert(kWidestLanes % W == 0, "the padding covers every lane");
    using D = typename Lanes<W>::Doubles;
    // With one ratio and one count, a and a^(n+1) are worked out once, by
    // the one-sample operations, and whatever follows from them alone is the
    // same in every lane and every group: the compiler hoists it.
    const int32_t n = c.lowest_count;
    const double held_a = GuardRatio(10.0 * static_cast<double>(c.ratio[0]));
    const GroupShared<D> shared{Splat<D>(held_a), Splat<D>(PowerBySquaring(held_a, n)),
                                Splat<D>(static_cast<double>(n)), n, static_cast<int64_t>(c.highest_count) + 1};
    D any_redo{};
    if constexpr (W == 2) {
        SeriesAngles<D> next = GroupSinCos<W, kHeld>(c, shared, 0);
        for (int32_t i = 0; i < c.padded_size; i += W) {
            const SeriesAngles<D> angles = next;
            if (i + W < c.padded_size) next = GroupSinCos<W, kHeld>(c, shared, i + W);
            any_redo = OrLanes(any_redo, RenderGroup<W, kOneSided, kHeld>(c, shared, i, angles, out));
        }
    } else {
        for (int32_t i = 0; i < c.padded_size; i += W) {
            const SeriesAngles<D> angles = GroupSinCos<W, kHeld>(c, shared, i);
            any_redo = OrLanes(any_redo, RenderGroup<W, kOneSided, kHeld>(c, shared, i, angles, out));
        }
    }
    for (int32_t i = c.size / W * W; i < c.size; ++i) out[i] = c.result[i];
    return AnyLane(any_redo);
}

template <int W, bool kOneSided>
SUMTONE_INLINE bool RenderChunkLanes(SampleChunk& c, float* out) {
    if (c.lowest_count != c.highest_count) return RenderGroups<W, kOneSided, Held::kNothing>(c, out);
    if (c.same_ratio) return RenderGroups<W, kOneSided, Held::kRatioAndCount>(c, out);
    return RenderGroups<W, kOneSided, Held::kCount>(c, out);
}

// What decides, for a sample with moving inputs, whether it keeps the
// count carried into it.
struct MovingCount {
    int32_t count;  // n carried in, >= 0
    int32_t requested;
    double max_freq;
    double phase_scale;
};

// Each lane's phase and spacing steps side by side, lane after lane.
template <class D>
SUMTONE_INLINE void StoreStepPairs(double* steps, D phase_step, D spacing_step) {
    if constexpr (sizeof(D) == 16) {
        const D first = __builtin_shufflevector(phase_step, spacing_step, 0, 2);
        const D second = __builtin_shufflevector(phase_step, spacing_step, 1, 3);
        std::memcpy(steps, &first, sizeof first);
        std::memcpy(steps + 2, &second, sizeof second);
    } else {
        static_assert(sizeof(D) == 32, "two or four lanes");
        const D first = __builtin_shufflevector(phase_step, spacing_step, 0, 4, 1, 5);
        const D second = __builtin_shufflevector(phase_step, spacing_step, 2, 6, 3, 7);
        std::memcpy(steps, &first, sizeof first);
        std::memcpy(steps + 4, &second, sizeof second);
    }
}

// For the samples [from, c.size) whose lowest frequency is in c.lowest:
// their spacing and phase steps, and as bit i whether sample i sounds with
// the carried count unchanged (an open gate; f and S finite; the count
// still fits, as CountStillFits decides) and with steps that need no
// reduction. Whole groups of W only; the samples of a last part group are
// left out of the mask.
template <int W>
SUMTONE_INLINE uint64_t MovingStepsLanes(SampleChunk& c, const float* gate, const float* fm1, const float* detune,
                                         const MovingCount& m, int32_t from) {
    using D = typename Lanes<W>::Doubles;
    using M = typename Lanes<W>::Masks;
    using F = typename Lanes<W>::Floats;
    const D n = Splat<D>(static_cast<double>(m.count));
    const D next = n + 1.0;
    const D max_freq = Splat<D>(m.max_freq);
    const bool enough = m.count >= m.requested;
    uint64_t mask = 0;
    for (int32_t i = from / W * W; i + W <= c.size; i += W) {
        const D f = LoadLanes<D>(c.lowest + i);
        const D spacing = 10.0 * (MagnitudeLanes(f) * __builtin_convertvector(LoadLanes<F>(fm1 + i), D) +
                                  __builtin_convertvector(LoadLanes<F>(detune + i), D));
        const D phase_step = f * m.phase_scale;
        const D spacing_step = spacing * m.phase_scale;
        std::memcpy(c.spacing + i, &spacing, sizeof spacing);
        StoreStepPairs(c.steps + 2 * i, phase_step, spacing_step);
        // NaN fails every comparison here, as it fails the one-sample checks.
        const D open = (D)(__builtin_convertvector(LoadLanes<F>(gate + i), D) != 0.0);
        const D top_within = NotGreaterLanes(MagnitudeLanes(f + n * spacing), max_freq);
        const D room_above = enough ? (D)(M{} - 1) : NotLessLanes(MagnitudeLanes(f + next * spacing), max_freq);
        // Steps within ±2 are finite, and so are f and S: an infinite or
        // NaN one times the phase scale gives an infinite or NaN step.
        const D small = AndLanes(NotGreaterLanes(MagnitudeLanes(phase_step), Splat<D>(2.0)),
                                 NotGreaterLanes(MagnitudeLanes(spacing_step), Splat<D>(2.0)));
        const D keeps = AndLanes(AndLanes(open, small), AndLanes(top_within, room_above));
        mask |= static_cast<uint64_t>(LaneBits(keeps)) << i;
    }
    if (from % W != 0) mask &= ~uint64_t{0} << from;
    return mask;
}
uint64_t MovingStepsSse2(SampleChunk& c, const float* gate, const float* fm1, const float* detune, const MovingCount& m,
                         int32_t from);
#if defined(__x86_64__)
__attribute__((target("avx2"))) uint64_t MovingStepsAvx2(SampleChunk& c, const float* gate, const float* fm1,
                                                         const float* detune, const MovingCount& m, int32_t from);
#endif

// c.lowest[i] = PitchToFrequency(fc[i]) for the chunk's samples (and
// its padding), W at a time.
template <int W, bool kFused = false>
SUMTONE_INLINE void PitchesToFrequenciesChunk(SampleChunk& c, const float* fc) {
    std::memcpy(c.pitch, fc, sizeof(float) * static_cast<size_t>(c.size));
    for (int32_t i = c.size; i < c.padded_size; ++i) c.pitch[i] = fc[c.size - 1];
    typedef double Doubles __attribute__((vector_size(8 * W)));
    PitchesToFrequenciesLanes<Doubles, kFused>(c.pitch, c.lowest, c.padded_size);
}
void PitchesToFrequenciesSse2(SampleChunk& c, const float* fc);
// With the lanes of the set; fc holds c.size values, and c.padded_size
// is set.
void PitchesToFrequencies(LaneSet lanes, SampleChunk& c, const float* fc);
#if defined(__x86_64__)
__attribute__((target("avx2,fma"), flatten)) void PitchesToFrequenciesAvx2(SampleChunk& c, const float* fc);
#endif
#if defined(SUMTONE_FUSED_PRODUCTS)
__attribute__((target("avx512f,avx2,fma"), flatten)) void PitchesToFrequenciesAvx512(SampleChunk& c, const float* fc);
#endif

// The filled chunk rendered into out[0 … c.size - 1], two lanes at a time
// (SampleLoop.cpp) or four (SampleLanesAvx2.cpp, x86_64 only; the caller
// checks that the processor has AVX2). Returns whether any sample of out is
// NaN, to be redone by RenderedSample.
bool RenderChunkSse2(SampleChunk& c, bool one_sided, float* out);
#if defined(__x86_64__)
__attribute__((target("avx2"))) bool RenderChunkAvx2(SampleChunk& c, bool one_sided, float* out);
#endif

}  // namespace sumtone

#endif  // SUMTONE_SAMPLELANES_H
