#include "SampleLoop.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "ClosedFormFallbacks.h"
#include "PartialCount.h"
#include "SampleLanes.h"
#include "SummationMath.h"

namespace sumtone {

namespace {

// One sounding sample from its phases (before their advance), its count and
// its "a" input, the closed form and its fallbacks as they stand: the
// reference that every lane width reproduces, and what a lane to redo is
// redone with.
float RenderedSample(bool one_sided, double phase, double spacing_phase, int32_t n, float ratio) {
    const double multiple = ReduceSpacingMultiple(n, spacing_phase);
    const SeriesAngles<double> angles = AngleSums(phase, spacing_phase, multiple);
    const double a = GuardRatio(10.0 * static_cast<double>(ratio));
    const double power = PowerBySquaring(a, n);
    const double numerator = Numerator(one_sided, angles, a, power);
    const double denominator = SpacingDenominator(a, angles.spacing.cosine);
    // Near a·e^(iβ) = 1, and where a^(n+1) overflows, the plain closed form
    // divides rounding noise or infinities; the fallbacks give the same sum.
    double value = ClosedFormSample(a, numerator, denominator, power);
    if (denominator < kNearSingularDistance) value = NearSingularSample(one_sided, a, n, angles);
    if (!std::isfinite(value)) value = TopPartialsSample(one_sided, a, power, angles);
    return std::isfinite(value) ? ToSample(value) : 0.0f;
}

uint32_t Bits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Which samples of the chunk repeat the inputs of the sample before them.
struct Repeats {
    // Bit i: sample i has an open gate and the same "fc", "fm1" and "detune"
    // bits as the sample before it (the call's first sample has none).
    uint64_t inputs = 0;
    // Bit i: sample i has the same "fc" bits as the one before.
    uint64_t pitch = 0;
    // Bit i: sample i has an open gate.
    uint64_t open = 0;
};

// Four samples at a time with SSE2, which every target has.
Repeats RepeatedInputs(const LoopBuffers& in, int32_t start, int32_t size) {
    Repeats r;
    int32_t i = start == 0 ? 1 : 0;
    for (; i + 4 <= size; i += 4) {
        const int32_t j = start + i;
        const auto same = [&](const float* input) {
            return _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(input + j)),
                                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + j - 1))));
        };
        const __m128 open = _mm_cmpneq_ps(_mm_loadu_ps(in.gate + j), _mm_setzero_ps());
        const __m128 same_pitch = same(in.fc);
        const __m128 repeated = _mm_and_ps(_mm_and_ps(open, same_pitch), _mm_and_ps(same(in.fm1), same(in.detune)));
        r.inputs |= static_cast<uint64_t>(_mm_movemask_ps(repeated)) << i;
        r.pitch |= static_cast<uint64_t>(_mm_movemask_ps(same_pitch)) << i;
        r.open |= static_cast<uint64_t>(_mm_movemask_ps(open)) << i;
    }
    for (; i < size; ++i) {
        const int32_t j = start + i;
        const bool same_pitch = Bits(in.fc[j]) == Bits(in.fc[j - 1]);
        const bool repeated = in.gate[j] != 0.0f && same_pitch && Bits(in.fm1[j]) == Bits(in.fm1[j - 1]) &&
                              Bits(in.detune[j]) == Bits(in.detune[j - 1]);
        r.inputs |= static_cast<uint64_t>(repeated) << i;
        r.pitch |= static_cast<uint64_t>(same_pitch) << i;
        r.open |= static_cast<uint64_t>(in.gate[j] != 0.0f) << i;
    }
    if (start == 0) r.open |= static_cast<uint64_t>(in.gate[0] != 0.0f);
    return r;
}

// CorrectPhaseOnce for a phase in [-1, 1] advanced by a step of known sign:
// a phase that rises cannot fall below -1, nor one that falls rise above 1.
template <bool kRises>
SUMTONE_INLINE double CorrectAdvancedPhase(double p) {
    if (kRises ? p > 1.0 : p < -1.0) p = kRises ? p - 2.0 : p + 2.0;
    return p;
}

// The samples [from, to) of a steady note: each stores its phases and
// advances them by the same steps, which need no reduction.
template <bool kPhaseRises, bool kSpacingRises>
void AdvanceSteadily(SampleChunk& c, int32_t from, int32_t to, double& phase_io, double& spacing_phase_io,
                     double phase_step, double spacing_step) {
    double phase = phase_io, spacing_phase = spacing_phase_io;
    // A handful of instructions per sample: the loop's own count and branch
    // are a good part of them.
#pragma GCC unroll 4
    for (int32_t k = from; k < to; ++k) {
        c.phase[k] = phase;
        c.spacing_phase[k] = spacing_phase;
        phase = CorrectAdvancedPhase<kPhaseRises>(phase + phase_step);
        spacing_phase = CorrectAdvancedPhase<kSpacingRises>(spacing_phase + spacing_step);
    }
    phase_io = phase;
    spacing_phase_io = spacing_phase;
}

// A steady note in progress: the latest sample kept its count, and its steps
// need no reduction. The samples after it with an open gate and the same
// "fc", "fm1" and "detune" bits have the same frequency, spacing, count and
// steps, and go straight to storing and advancing; a note carries on from
// one chunk into the next.
struct SteadyNote {
    bool on = false;
    double phase_step = 0.0;
    double spacing_step = 0.0;
};

// A phase in [-1, 1] advanced by a step of at most 2 in magnitude: one
// correction, as WrapPhase makes it, brings it back.
SUMTONE_INLINE double CorrectSmallAdvance(double p) {
    if (p > 1.0) {
        p -= 2.0;
    } else if (p < -1.0) {
        p += 2.0;
    }
    return p;
}

// Both phases, side by side, each corrected as CorrectSmallAdvance does.
SUMTONE_INLINE __m128d CorrectSmallAdvances(__m128d phases) {
    const double phase = CorrectSmallAdvance(_mm_cvtsd_f64(phases));
    const double spacing_phase = CorrectSmallAdvance(_mm_cvtsd_f64(_mm_unpackhi_pd(phases, phases)));
    return _mm_set_pd(spacing_phase, phase);
}

// The samples [from, to) with moving inputs that keep their count: each
// stores its phases and advances them by its own steps. Both phases advance
// in one register, by one addition, and are checked at once: either leaving
// [-1, 1] is rare, so the loop carries little more than the addition.
void AdvanceMoving(SampleChunk& c, int32_t from, int32_t to, double& phase_io, double& spacing_phase_io) {
    __m128d phases = _mm_set_pd(spacing_phase_io, phase_io);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
    const __m128d one = _mm_set1_pd(1.0);
#pragma GCC unroll 4
    for (int32_t k = from; k < to; ++k) {
        _mm_storel_pd(c.phase + k, phases);
        _mm_storeh_pd(c.spacing_phase + k, phases);
        phases = _mm_add_pd(phases, _mm_loadu_pd(c.steps + 2 * k));
        // |p| > 1 is p > 1 or p < -1, and false for NaN, as there.
        if (__builtin_expect(_mm_movemask_pd(_mm_cmplt_pd(one, _mm_and_pd(phases, magnitude))) != 0, 0))
            phases = CorrectSmallAdvances(phases);
    }
    phase_io = _mm_cvtsd_f64(phases);
    spacing_phase_io = _mm_cvtsd_f64(_mm_unpackhi_pd(phases, phases));
}

#if defined(__x86_64__)
// Whether the chunk's arithmetic takes four lanes (AVX2).
bool FourLanes(LaneSet lanes) { return lanes == LaneSet::kAvx2 || lanes == LaneSet::kAvx512; }
#endif

uint64_t MovingSteps(LaneSet lanes, SampleChunk& c, const float* gate, const float* fm1, const float* detune,
                     const MovingCount& m, int32_t from) {
#if defined(__x86_64__)
    if (FourLanes(lanes)) return MovingStepsAvx2(c, gate, fm1, detune, m, from);
#else
    (void)lanes;  // two lanes are the widest there
#endif
    return MovingStepsSse2(c, gate, fm1, detune, m, from);
}

// A chunk whose inputs move at this many samples or more has the work of
// those samples that depends on no other sample (the frequencies, spacings,
// steps and whether the count still fits) done in lanes beforehand.
constexpr int32_t kMovesForLanes = 8;
// Each change of the count asks for that work again, for the rest of the
// chunk; a count that keeps changing is left to the samples one by one.
constexpr int32_t kMostMovingPasses = 3;

// The steps that carry values from sample to sample, for the samples
// [start, start + size) of the call: the gate, the frequency cache, the
// partial count, the phases and their wraps. They work on local copies,
// which the chunk's stores cannot alias, so they stay in registers.
__attribute__((noinline)) void FillChunk(LaneSet lanes, SampleChunk& c, LoopState& state, CarriedCount& carried,
                                         SteadyNote& steady, const LoopBuffers& buffers, int32_t start, int32_t size) {
    LoopState st = state;
    CarriedCount count = carried;
    SteadyNote note = steady;
    const float* const gate = buffers.gate + start;
    const float* const fc = buffers.fc + start;
    const float* const fm1 = buffers.fm1 + start;
    const float* const detune = buffers.detune + start;
    const Repeats repeats = RepeatedInputs(buffers, start, size);
    const uint64_t repeated = repeats.inputs;
    c.size = size;
    c.padded_size = (size + kWidestLanes - 1) / kWidestLanes * kWidestLanes;
    c.silent_count = 0;
    c.runs = 0;
    const uint64_t all = size == 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1;
    const bool moving = lanes != LaneSet::kScalar && __builtin_popcountll(~repeated & all) >= kMovesForLanes;
    if (moving) {
        // Every frequency the cache takes is the frequency of that sample's
        // "fc", the same bits whether worked out here or as "fc" moves; the
        // cache itself follows the gate and "fc" alone.
        const uint64_t pitch_moves = ~repeats.pitch & all & ~uint64_t{1};
        if (pitch_moves == 0) {
            // One "fc" throughout: the cache takes it at the first open gate,
            // if at all. The frequencies of closed gates are never used.
            if ((repeats.open & all) != 0 && fc[0] != st.cached_fc) {
                st.cached_fc = fc[0];
                st.cached_freq = PitchToFrequency(fc[0]);
            }
            for (int32_t i = 0; i < size; ++i) c.lowest[i] = st.cached_freq;
        } else if (__builtin_popcountll(pitch_moves) < kMovesForLanes) {
            for (int32_t i = 0; i < size; ++i) {
                if (gate[i] != 0.0f && fc[i] != st.cached_fc) {
                    st.cached_fc = fc[i];
                    st.cached_freq = PitchToFrequency(fc[i]);
                }
                c.lowest[i] = st.cached_freq;
            }
        } else {
            PitchesToFrequencies(lanes, c, fc);
            if (repeats.open == all && fc[0] != st.cached_fc) {
                // The cache takes the first sample's "fc", and from then on
                // holds at each sample a value equal to that sample's "fc":
                // its frequency, which is already in place. It keeps the
                // bits of the sample where the value last changed.
                int32_t changed = size - 1;
                while (changed > 0 && fc[changed] == fc[changed - 1]) --changed;
                st.cached_fc = fc[changed];
                st.cached_freq = c.lowest[changed];
            } else {
                for (int32_t i = 0; i < size; ++i) {
                    if (gate[i] != 0.0f && fc[i] != st.cached_fc) {
                        st.cached_fc = fc[i];
                        st.cached_freq = c.lowest[i];
                    }
                    c.lowest[i] = st.cached_freq;
                }
            }
        }
    }
    // Bit i: sample i keeps the count `keeping_count` with the steps in the
    // chunk (moving chunks only).
    uint64_t keeping = 0;
    int32_t keeping_count = -1;
    int32_t moving_passes = 0;
    int32_t run_count = -1;  // the count of the latest run
    const auto record_count = [&](int32_t i, int32_t n) {
        if (n == run_count) return;
        run_count = n;
        c.run_start[c.runs] = i;
        c.run_count[c.runs++] = n;
    };
    for (int32_t i = 0; i < size;) {
        if (note.on && ((repeated >> i) & 1u) != 0) {
            // The bits past the chunk are 0, so the note ends at size at the latest.
            const uint64_t later = ~repeated >> i;
            const int32_t end = later == 0 ? size : i + __builtin_ctzll(later);
            record_count(i, count.Count());
            const auto advance =
                note.phase_step >= 0.0
                    ? (note.spacing_step >= 0.0 ? AdvanceSteadily<true, true> : AdvanceSteadily<true, false>)
                    : (note.spacing_step >= 0.0 ? AdvanceSteadily<false, true> : AdvanceSteadily<false, false>);
            advance(c, i, end, st.phase, st.spacing_phase, note.phase_step, note.spacing_step);
            i = end;
            continue;
        }
        if (moving && count.Count() >= 0 && count.Count() != keeping_count && moving_passes < kMostMovingPasses &&
            size - i >= kMovesForLanes) {
            keeping_count = count.Count();
            keeping = MovingSteps(lanes, c, gate, fm1, detune,
                                  MovingCount{keeping_count, count.Requested(), count.MaxFreq(), st.phase_scale}, i);
            ++moving_passes;
        }
        if (((keeping >> i) & 1u) != 0 && count.Count() == keeping_count) {
            const uint64_t later = ~keeping >> i;
            const int32_t end = later == 0 ? size : i + __builtin_ctzll(later);
            record_count(i, keeping_count);
            AdvanceMoving(c, i, end, st.phase, st.spacing_phase);
            const int32_t last = end - 1;
            count.KeepFor(c.lowest[last], c.spacing[last]);
            note = {true, c.steps[2 * last], c.steps[2 * last + 1]};
            i = end;
            continue;
        }
        PartialSeries series{-1, 0.0};
        double spacing = 0.0;
        if (gate[i] != 0.0f) {
            if (!moving && fc[i] != st.cached_fc) {  // the one exponential, only when "fc" moves
                st.cached_fc = fc[i];
                st.cached_freq = PitchToFrequency(fc[i]);
            }
            const double f = moving ? c.lowest[i] : st.cached_freq;
            spacing = 10.0 * (std::fabs(f) * static_cast<double>(fm1[i]) + static_cast<double>(detune[i]));
            series = count.Next(f, spacing);
        }
        if (series.count < 0) {
            // A closed gate, and a sample without any partial in range,
            // restart both phases so that sound resumes at θ = β = 0.
            c.phase[i] = 0.0;
            c.spacing_phase[i] = 0.0;
            c.silent[c.silent_count++] = i;
            st.phase = 0.0;
            st.spacing_phase = 0.0;
            note.on = false;
            ++i;
            continue;
        }
        record_count(i, series.count);
        c.phase[i] = st.phase;
        c.spacing_phase[i] = st.spacing_phase;
        note.phase_step = series.lowest * st.phase_scale;
        note.spacing_step = spacing * st.phase_scale;
        st.phase = WrapPhase(st.phase + note.phase_step);
        st.spacing_phase = WrapPhase(st.spacing_phase + note.spacing_step);
        note.on = count.Kept() && StepNeedsNoReduction(note.phase_step) && StepNeedsNoReduction(note.spacing_step);
        ++i;
    }
    c.lowest_count = INT32_MAX;
    c.highest_count = -1;
    for (int32_t k = 0; k < c.runs; ++k) {
        c.lowest_count = c.run_count[k] < c.lowest_count ? c.run_count[k] : c.lowest_count;
        c.highest_count = c.run_count[k] > c.highest_count ? c.run_count[k] : c.highest_count;
    }
    for (int32_t i = size; i < c.padded_size; ++i) {
        c.phase[i] = 0.0;
        c.spacing_phase[i] = 0.0;
    }
    state = st;
    carried = count;
    steady = note;
}

// The chunk's "a" inputs, the last repeated into the padding.
void FillRatios(SampleChunk& c, const float* ratio) {
    std::memcpy(c.ratio, ratio, sizeof(float) * static_cast<size_t>(c.size));
    for (int32_t i = c.size; i < c.padded_size; ++i) c.ratio[i] = ratio[c.size - 1];
    const __m128i first = _mm_set1_epi32(static_cast<int32_t>(Bits(ratio[0])));
    __m128i differ = _mm_setzero_si128();
    for (int32_t i = 0; i < c.padded_size; i += 4) {
        const __m128i bits = _mm_load_si128(reinterpret_cast<const __m128i*>(c.ratio + i));
        differ = _mm_or_si128(differ, _mm_xor_si128(bits, first));
    }
    c.same_ratio = _mm_movemask_epi8(_mm_cmpeq_epi32(differ, _mm_setzero_si128())) == 0xFFFF;
}

// 32-bit Windows hosts may call with the stack aligned to 4 bytes only,
// where the SSE2 lanes spill 16-byte vectors.
#if defined(__i386__)
#define SUMTONE_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define SUMTONE_REALIGN_STACK
#endif

}  // namespace

SUMTONE_REALIGN_STACK uint64_t MovingStepsSse2(SampleChunk& c, const float* gate, const float* fm1, const float* detune,
                                               const MovingCount& m, int32_t from) {
    return MovingStepsLanes<2>(c, gate, fm1, detune, m, from);
}

SUMTONE_REALIGN_STACK void PitchesToFrequenciesSse2(SampleChunk& c, const float* fc) {
    PitchesToFrequenciesChunk<2>(c, fc);
}

__attribute__((noinline)) SUMTONE_REALIGN_STACK bool RenderChunkSse2(SampleChunk& c, bool one_sided, float* out) {
    return one_sided ? RenderChunkLanes<2, true>(c, out) : RenderChunkLanes<2, false>(c, out);
}

namespace {

// Renders the filled chunk into out[0 … c.size - 1].
void RenderChunk(LaneSet lanes, SampleChunk& c, bool one_sided, float* out) {
    if (c.silent_count == c.size) {
        std::memset(out, 0, sizeof(float) * static_cast<size_t>(c.size));
        return;
    }
    const bool same_count = c.lowest_count == c.highest_count;
    if (!same_count || lanes == LaneSet::kScalar) ExpandCounts(c);
    const auto count_at = [&](int32_t i) { return same_count ? c.lowest_count : static_cast<int32_t>(c.terms[i] - 1); };
    bool any_redo = false;
    if (lanes == LaneSet::kScalar) {
        for (int32_t i = 0; i < c.size; ++i)
            out[i] = RenderedSample(one_sided, c.phase[i], c.spacing_phase[i], count_at(i), c.ratio[i]);
    } else {
#if defined(__x86_64__)
        any_redo = FourLanes(lanes) ? RenderChunkAvx2(c, one_sided, out) : RenderChunkSse2(c, one_sided, out);
#else
        any_redo = RenderChunkSse2(c, one_sided, out);
#endif
    }
    if (any_redo) {
        for (int32_t i = 0; i < c.size; ++i) {
            if (!std::isnan(out[i])) continue;
            out[i] = RenderedSample(one_sided, c.phase[i], c.spacing_phase[i], count_at(i), c.ratio[i]);
        }
    }
    for (int32_t k = 0; k < c.silent_count; ++k) out[c.silent[k]] = 0.0f;
}

}  // namespace

void PitchesToFrequencies(LaneSet lanes, SampleChunk& c, const float* fc) {
#if defined(__x86_64__)
    if (lanes == LaneSet::kAvx2) return PitchesToFrequenciesAvx2(c, fc);
#endif
#if defined(SUMTONE_FUSED_PRODUCTS)
    if (lanes == LaneSet::kAvx512) return PitchesToFrequenciesAvx512(c, fc);
#endif
    if (lanes != LaneSet::kScalar) return PitchesToFrequenciesSse2(c, fc);
    for (int32_t i = 0; i < c.size; ++i) c.lowest[i] = PitchToFrequency(fc[i]);
}

bool CanRun(LaneSet lanes) {
    switch (lanes) {
        case LaneSet::kScalar:
        case LaneSet::kSse2:
            return true;
        case LaneSet::kAvx2:
#if defined(__x86_64__)
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
            return false;
#endif
        case LaneSet::kAvx512:
#if defined(SUMTONE_FUSED_PRODUCTS)
            return CanRun(LaneSet::kAvx2) && __builtin_cpu_supports("avx512f");
#else
            return false;
#endif
    }
    return false;
}

LaneSet WidestLaneSet() {
    if (CanRun(LaneSet::kAvx512)) return LaneSet::kAvx512;
    return CanRun(LaneSet::kAvx2) ? LaneSet::kAvx2 : LaneSet::kSse2;
}

void RenderSeries(LaneSet lanes, LoopState& state, const LoopBuffers& in, bool one_sided, int32_t frames) {
    const double max_freq = 10.0 * static_cast<double>(in.maxfreq[0]);
    CarriedCount count(max_freq, RequestedCount(in.n[0], max_freq));
    SteadyNote steady;  // none at a call's start: the count is worked out afresh there
    SampleChunk chunk;
    for (int32_t start = 0; start < frames; start += kChunkSamples) {
        const int32_t size = frames - start < kChunkSamples ? frames - start : kChunkSamples;
        FillChunk(lanes, chunk, state, count, steady, in, start, size);
        FillRatios(chunk, in.a + start);
        RenderChunk(lanes, chunk, one_sided, in.out + start);
    }
}

}  // namespace sumtone
