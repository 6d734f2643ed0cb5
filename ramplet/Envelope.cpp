// The envelope kernel: the control inputs' mapping to times, steps and
// levels, and the segment state machine. Runs inside the processing
// routine: no allocation and no host call.
#include "Envelope.h"

#include <emmintrin.h>

#include <cstring>

#include "EnvelopeHoldAvx2.h"
#include "VXMath.h"

namespace ramplet {

namespace {

// Offsets of the time scale, in doublings: input 0.0 gives 2^-6.666666
// seconds for attack and release. The decay's time is that of half the peak
// level, hence one doubling less.
constexpr float kAttackReleaseOffset = 6.666666f;
constexpr float kDecayOffset = 7.666666f;
constexpr float kDoublingsPerUnit = 10.0f;
// The sustain stays just below the peak, so a decay always has somewhere to go.
constexpr float kSustainLimit = 0.99999f;

float ClampSustain(float sustain) {
    if (sustain > kSustainLimit) return kSustainLimit;
    if (sustain < 0.0f) return 0.0f;
    return sustain;
}

// A zero peak means no movement, also over a time of 0 samples, where the
// division gives 0/0: a fall per sample that is not a number or negative
// (from a negative sample rate) becomes 0 rather than a NaN or a rise.
float FallStep(float step) { return step >= 0.0f ? step : 0.0f; }

// Ten doublings over the input range 0 to 1. The exponent is formed in
// single precision and raised with a power of two that gives the same bits
// on every target.
float SegmentSamples(float input, float offset, float sample_rate) {
    const float exponent = input * kDoublingsPerUnit - offset;
    return static_cast<float>(vx::Exp2(exponent) * sample_rate);
}

// A constant segment should cost no more than a buffer fill, and the
// compiler does not vectorise a fill of unknown length at -O2: sixteen
// samples per step.
void Fill(float* const out, int32_t i, const int32_t n, const float value) {
    const __m128 v = _mm_set1_ps(value);
    for (; i + 16 <= n; i += 16) {
        _mm_storeu_ps(out + i, v);
        _mm_storeu_ps(out + i + 4, v);
        _mm_storeu_ps(out + i + 8, v);
        _mm_storeu_ps(out + i + 12, v);
    }
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(out + i, v);
    for (; i < n; ++i) out[i] = value;
}

// The gate sample that ends a constant segment: any value other than 0
// ends the idle, exactly 0 ends the sustain. The gate is tested as bits, in
// integer registers: with the sign bit shifted out, exactly +0 and -0 leave
// 0, so the answers are those of the float comparisons under the default
// controls (a denormal is other than 0, so is a NaN), but no floating-point
// instruction runs. A hold therefore depends on no MXCSR setting and raises
// no flag, which lets the module hold without switching to its own
// floating-point environment (Module::HoldCall).
enum class GateEnds { NonZero, Zero };

template <GateEnds kEnds>
bool Ends(const float* const gate) {
    uint32_t bits;
    std::memcpy(&bits, gate, sizeof bits);
    const bool zero = (bits << 1) == 0;
    return kEnds == GateEnds::Zero ? zero : !zero;
}

// Sixteen gate samples' bits combined: or'ed for the idle, where a nonzero
// sample shows in the result, and'ed for the sustain, where a zero sample
// leaves a zero lane.
template <GateEnds kEnds>
__m128i Combine(const __m128i x, const __m128i y) {
    return kEnds == GateEnds::NonZero ? _mm_or_si128(x, y) : _mm_and_si128(x, y);
}

template <GateEnds kEnds>
__m128i Combined16(const float* const gate) {
    const auto load = [gate](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(gate + k)); };
    return Combine<kEnds>(Combine<kEnds>(load(0), load(4)), Combine<kEnds>(load(8), load(12)));
}

// Lanes of `bits` that hold 0 once the sign is shifted out, as a byte mask.
int ZeroLanes(const __m128i bits) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_add_epi32(bits, bits), _mm_setzero_si128()));
}

// Whether any of the sixteen gate samples at `gate` is exactly 0, each
// vector tested on its own.
bool AnyZero16(const float* const gate) {
    const auto zeros = [gate](int k) {
        const __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gate + k));
        return _mm_cmpeq_epi32(_mm_add_epi32(bits, bits), _mm_setzero_si128());
    };
    return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(zeros(0), zeros(4)), _mm_or_si128(zeros(8), zeros(12)))) != 0;
}

// Whether a gate block whose bits combine to `bits` (and starts at `gate`,
// `blocks` times sixteen samples long) holds a sample that ends the
// segment. For the idle the combined bits answer exactly. For the sustain
// they can also show a zero lane for nonzero samples (2.0 and 1.0 share no
// bit once the sign is shifted out); only then is each vector tested on its
// own, so a constant gate costs one test.
template <GateEnds kEnds, int kBlocks>
bool BlockEnds(const __m128i bits, const float* const gate) {
    if (kEnds == GateEnds::NonZero) return ZeroLanes(bits) != 0xFFFF;
    if (ZeroLanes(bits) == 0) return false;
    return AnyZero16(gate) || (kBlocks == 2 && AnyZero16(gate + 16));
}

void Store16(float* const out, const __m128 v) {
    _mm_storeu_ps(out, v);
    _mm_storeu_ps(out + 4, v);
    _mm_storeu_ps(out + 8, v);
    _mm_storeu_ps(out + 12, v);
}

// Writes `value` from sample i up to the first sample whose gate ends the
// segment, and returns that sample (n if none does). Thirty-two gate
// samples are tested with one branch; the block that holds the end is
// finished sixteen and then one sample at a time, so nothing past the end
// is written and nothing past n is read.
template <GateEnds kEnds>
int32_t HoldWhileGate(float* const out, const float* const gate, int32_t i, const int32_t n, const float value) {
    const __m128 v = _mm_set1_ps(value);
    for (; i + 32 <= n; i += 32) {
        const __m128i bits = Combine<kEnds>(Combined16<kEnds>(gate + i), Combined16<kEnds>(gate + i + 16));
        if (BlockEnds<kEnds, 2>(bits, gate + i)) break;
        Store16(out + i, v);
        Store16(out + i + 16, v);
    }
    for (; i + 16 <= n; i += 16) {
        if (BlockEnds<kEnds, 1>(Combined16<kEnds>(gate + i), gate + i)) break;
        Store16(out + i, v);
    }
    for (; i < n; ++i) {
        if (Ends<kEnds>(gate + i)) break;
        out[i] = value;
    }
    return i;
}

}  // namespace

void Envelope::Start(float rate) {
    sustain_level = 0.5f;
    peak_level = 1.0f;
    attack_samples = 1.0f;
    decay_samples = 1.0f;
    release_samples = 1.0f;
    attack_step = 0.0f;
    decay_step = 0.0f;
    release_step = 0.0f;
    sample_rate = rate;
    level = 0.0f;
    segment = ENV_IDLE;
    avx2_holds = HoldsCanUseAvx2();
}

void Envelope::SetAttack(float input) {
    attack_samples = SegmentSamples(input, kAttackReleaseOffset, sample_rate);
    attack_step = peak_level / attack_samples;
}

void Envelope::SetDecay(float input) {
    decay_samples = SegmentSamples(input, kDecayOffset, sample_rate);
    decay_step = FallStep((peak_level * 0.5f) / decay_samples);
}

void Envelope::SetSustain(float input) { sustain_level = ClampSustain(input) * peak_level; }

void Envelope::SetRelease(float input) {
    release_samples = SegmentSamples(input, kAttackReleaseOffset, sample_rate);
    release_step = FallStep(peak_level / release_samples);
}

void Envelope::SetOverallLevel(float input, float sustain_input) {
    peak_level = input < 0.0f ? 0.0f : input;
    attack_step = peak_level / attack_samples;
    sustain_level = ClampSustain(sustain_input) * peak_level;
    decay_step = FallStep((1.0f / decay_samples) * (peak_level * 0.5f));
    release_step = FallStep((1.0f / release_samples) * peak_level);
}

// The gate is read only while the last notification concerned it. The
// watch cannot change during a call (notifications come between calls), so
// each mode gets its own copy of the loops and an unwatched gate costs nothing.
int32_t Envelope::RenderFrom(float* out, const float* gate, int32_t from, int32_t frames, bool reset_on_trigger) {
    if (gate != nullptr) return RenderSegments<true>(out, gate, from, frames, reset_on_trigger);
    return RenderSegments<false>(out, nullptr, from, frames, reset_on_trigger);
}

// A segment that ends hands its current sample, not yet written, to the
// next segment, which continues at that sample. The attack hands on to the
// decay here; every other hand-over returns the sample, so that the caller
// can announce the change of motion before the new segment begins. Each
// loop keeps the level in a local: the output buffer could alias the
// members, and the level must stay in a register.
template <bool kGateWatched>
int32_t Envelope::RenderSegments(float* const out, const float* const gate, int32_t i, const int32_t n,
                                 const bool reset_on_trigger) {
    for (;;) {
        switch (segment) {
            case ENV_ATTACK: {
                if (!(attack_step > 0.0f)) {
                    level = peak_level;
                    segment = ENV_DECAY;
                    break;
                }
                const float step = attack_step, peak = peak_level;
                float current = level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] == 0.0f) break;
                    const float v = current + step;
                    if (v > peak) break;
                    current = v;
                    out[i] = v;
                }
                level = current;
                if (i == n) return n;
                if (kGateWatched && gate[i] == 0.0f) {
                    segment = ENV_RELEASE;
                    return i;
                }
                level = peak;
                segment = ENV_DECAY;
                break;
            }
            case ENV_DECAY: {
                if (!(decay_step > 0.0f)) {
                    segment = ENV_SUSTAIN;
                    return i;
                }
                const float step = decay_step, floor = sustain_level;
                float current = level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] == 0.0f) break;
                    const float v = current - step;
                    if (v < floor) break;
                    current = v;
                    out[i] = v;
                }
                level = current;
                if (i == n) return n;
                segment = kGateWatched && gate[i] == 0.0f ? ENV_RELEASE : ENV_SUSTAIN;
                return i;
            }
            case ENV_SUSTAIN: {
                // Reloaded on every entry, so a changed sustain level shows
                // as a jump at the start of the next call.
                level = sustain_level;
                if (!kGateWatched) {
                    Fill(out, i, n, level);
                    return n;
                }
                // The watched sustain hold: the envelope spends most of a
                // note here.
                if (avx2_holds) i = HoldSustainAvx2(out, gate, i, n, level);
                i = HoldWhileGate<GateEnds::Zero>(out, gate, i, n, level);
                if (i == n) return n;
                segment = ENV_RELEASE;
                return i;
            }
            case ENV_RELEASE: {
                const float step = release_step;
                float current = level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] > 0.0f) break;
                    const float v = current - step;
                    if (v <= 0.0f) break;
                    current = v;
                    out[i] = v;
                }
                level = current;
                if (i == n) return n;
                if (kGateWatched && gate[i] > 0.0f) {
                    // A retrigger, from the level reached unless the setting
                    // asks for a fresh start.
                    if (reset_on_trigger) level = 0.0f;
                    segment = ENV_ATTACK;
                } else {
                    level = 0.0f;
                    segment = ENV_IDLE;
                }
                return i;
            }
            case ENV_IDLE:
            default: {
                if (!kGateWatched) {
                    Fill(out, i, n, 0.0f);
                    return n;
                }
                if (avx2_holds) i = HoldIdleAvx2(out, gate, i, n);
                i = HoldWhileGate<GateEnds::NonZero>(out, gate, i, n, 0.0f);
                if (i == n) return n;
                segment = ENV_ATTACK;
                return i;
            }
        }
    }
}

}  // namespace ramplet
