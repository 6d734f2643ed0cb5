#include "SampleLoop.h"

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
// reference that every lane width reproduces, and what a guarded lane is
// redone with.
float RenderedSample(bool one_sided, double phase, double spacing_phase, int32_t n, double ratio) {
    const double multiple = ReduceSpacingMultiple(n, spacing_phase);
    const SeriesAngles<double> angles = AngleSums(phase, spacing_phase, multiple);
    const double a = GuardRatio(10.0 * ratio);
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

// What a silent sample and the padding hand to the arithmetic.
void FillQuiet(SampleChunk& c, int32_t i) {
    c.phase[i] = 0.0;
    c.spacing_phase[i] = 0.0;
    c.count[i] = 0.0;
    c.terms[i] = 1;
    c.ratio[i] = 0.0;
}

uint32_t Bits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The steps that carry values from sample to sample, for the samples
// [start, start + size) of the call: the gate, the frequency cache, the
// partial count, the phases and their wraps. They work on local copies,
// which the chunk's stores cannot alias, so they stay in registers.
__attribute__((noinline)) void FillChunk(SampleChunk& c, LoopState& state, CarriedCount& carried,
                                         const LoopBuffers& buffers, int32_t start, int32_t size) {
    LoopState st = state;
    CarriedCount count = carried;
    const LoopBuffers in{buffers.fc + start,     buffers.fm1 + start,    buffers.n + start,
                         buffers.a + start,      buffers.gate + start,   buffers.detune + start,
                         buffers.maxfreq + start, buffers.out + start};
    c.size = size;
    c.padded_size = (size + kWidestLanes - 1) / kWidestLanes * kWidestLanes;
    c.silent_count = 0;
    // The count's range over the chunk may include a count that no sample
    // of it renders; that only costs the arithmetic a uniform count.
    int32_t n = count.Count();
    c.lowest_count = n >= 0 ? n : INT32_MAX;
    c.highest_count = n;
    double n_as_double = static_cast<double>(n);
    for (int32_t i = 0; i < size; ++i) {
        PartialSeries series{-1, 0.0};
        double spacing = 0.0;
        if (in.gate[i] != 0.0f) {
            if (in.fc[i] != st.cached_fc) {  // the one exponential, only when "fc" moves
                st.cached_fc = in.fc[i];
                st.cached_freq = PitchToFrequency(in.fc[i]);
            }
            const double f = st.cached_freq;
            spacing = 10.0 * (std::fabs(f) * static_cast<double>(in.fm1[i]) +
                              static_cast<double>(in.detune[i]));
            series = count.Next(f, spacing);
        }
        if (series.count < 0) {
            // A closed gate, and a sample without any partial in range,
            // restart both phases so that sound resumes at θ = β = 0.
            FillQuiet(c, i);
            c.silent[c.silent_count++] = i;
            st.phase = 0.0;
            st.spacing_phase = 0.0;
            continue;
        }
        if (series.count != n) {
            n = series.count;
            n_as_double = static_cast<double>(n);
            c.lowest_count = n < c.lowest_count ? n : c.lowest_count;
            c.highest_count = n > c.highest_count ? n : c.highest_count;
        }
        const int64_t terms = static_cast<int64_t>(n) + 1;
        c.phase[i] = st.phase;
        c.spacing_phase[i] = st.spacing_phase;
        c.count[i] = n_as_double;
        c.terms[i] = terms;
        c.ratio[i] = static_cast<double>(in.a[i]);
        const double phase_step = series.lowest * st.phase_scale;
        const double spacing_step = spacing * st.phase_scale;
        st.phase = WrapPhase(st.phase + phase_step);
        st.spacing_phase = WrapPhase(st.spacing_phase + spacing_step);

        // A steady note: this sample kept its count and its steps need no
        // reduction. The samples after it with an open gate and the same
        // "fc", "fm1" and "detune" bits have the same frequency, spacing,
        // count and steps, and go straight to storing and advancing.
        if (!count.Kept() || !StepNeedsNoReduction(phase_step) || !StepNeedsNoReduction(spacing_step))
            continue;
        const uint32_t fc_bits = Bits(in.fc[i]), fm1_bits = Bits(in.fm1[i]);
        const uint32_t detune_bits = Bits(in.detune[i]);
        double phase = st.phase, spacing_phase = st.spacing_phase;
        for (; i + 1 < size; ++i) {
            const int32_t k = i + 1;
            if (!(in.gate[k] != 0.0f) || Bits(in.fc[k]) != fc_bits || Bits(in.fm1[k]) != fm1_bits ||
                Bits(in.detune[k]) != detune_bits)
                break;
            c.phase[k] = phase;
            c.spacing_phase[k] = spacing_phase;
            c.count[k] = n_as_double;
            c.terms[k] = terms;
            c.ratio[k] = static_cast<double>(in.a[k]);
            phase = CorrectPhaseOnce(phase + phase_step);
            spacing_phase = CorrectPhaseOnce(spacing_phase + spacing_step);
        }
        st.phase = phase;
        st.spacing_phase = spacing_phase;
    }
    for (int32_t i = size; i < c.padded_size; ++i) FillQuiet(c, i);
    state = st;
    carried = count;
}

// 32-bit Windows hosts may call with the stack aligned to 4 bytes only,
// where the SSE2 lanes spill 16-byte vectors.
#if defined(__i386__)
#define SUMTONE_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define SUMTONE_REALIGN_STACK
#endif

__attribute__((noinline)) SUMTONE_REALIGN_STACK bool RenderChunkSse2(SampleChunk& c,
                                                                    bool one_sided) {
    return one_sided ? RenderChunkLanes<2, true>(c) : RenderChunkLanes<2, false>(c);
}

#if defined(__x86_64__)
__attribute__((noinline, target("avx2"))) bool RenderChunkAvx2(SampleChunk& c, bool one_sided) {
    return one_sided ? RenderChunkLanes<4, true>(c) : RenderChunkLanes<4, false>(c);
}
#endif

// Renders the filled chunk into out[0 … c.size - 1].
void RenderChunk(LaneSet lanes, SampleChunk& c, bool one_sided, float* out) {
    if (c.silent_count == c.size) {
        std::memset(out, 0, sizeof(float) * static_cast<size_t>(c.size));
        return;
    }
    bool any_redo = false;
    if (lanes == LaneSet::kScalar) {
        for (int32_t i = 0; i < c.size; ++i) {
            out[i] = RenderedSample(one_sided, c.phase[i], c.spacing_phase[i],
                                    static_cast<int32_t>(c.terms[i] - 1), c.ratio[i]);
        }
    } else {
#if defined(__x86_64__)
        any_redo = lanes == LaneSet::kAvx2 ? RenderChunkAvx2(c, one_sided) : RenderChunkSse2(c, one_sided);
#else
        any_redo = RenderChunkSse2(c, one_sided);
#endif
        std::memcpy(out, c.result, sizeof(float) * static_cast<size_t>(c.size));
    }
    if (any_redo) {
        for (int32_t i = 0; i < c.size; ++i) {
            if (!std::isnan(out[i])) continue;
            out[i] = RenderedSample(one_sided, c.phase[i], c.spacing_phase[i],
                                    static_cast<int32_t>(c.terms[i] - 1), c.ratio[i]);
        }
    }
    for (int32_t k = 0; k < c.silent_count; ++k) out[c.silent[k]] = 0.0f;
}

}  // namespace

bool CanRun(LaneSet lanes) {
    switch (lanes) {
        case LaneSet::kScalar:
        case LaneSet::kSse2:
            return true;
        case LaneSet::kAvx2:
#if defined(__x86_64__)
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

LaneSet WidestLaneSet() { return CanRun(LaneSet::kAvx2) ? LaneSet::kAvx2 : LaneSet::kSse2; }

void RenderSeries(LaneSet lanes, LoopState& state, const LoopBuffers& in, bool one_sided,
                  int32_t frames) {
    const double max_freq = 10.0 * static_cast<double>(in.maxfreq[0]);
    CarriedCount count(max_freq, RequestedCount(in.n[0], max_freq));
    SampleChunk chunk;
    for (int32_t start = 0; start < frames; start += kChunkSamples) {
        const int32_t size = frames - start < kChunkSamples ? frames - start : kChunkSamples;
        FillChunk(chunk, state, count, in, start, size);
        RenderChunk(lanes, chunk, one_sided, in.out + start);
    }
}

}  // namespace sumtone
