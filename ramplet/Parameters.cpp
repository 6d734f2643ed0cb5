// Control inputs to times, steps and levels. Runs inside the processing
// routine, before any sample of the call is written.
#include <cmath>

#include "Module.h"
#include "VXMath.h"

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

}  // namespace

// The inputs are examined on every fourth call (CheckInputs), and at the
// call after a control input's notification, at the call's first sample,
// which keeps the power function out of most calls. A sample
// that is not a finite number is passed over: the envelope keeps what it
// derived from the last finite sample, so a passing fault upstream leaves no
// trace once the input is back.
void Module::ExamineInputs(int32_t buffer_offset) {
    const auto examine = [this, buffer_offset](const float* input, float& last, int32_t which) {
        const float value = input[buffer_offset];
        if (!std::isfinite(value) || value == last) return;
        last = value;
        UpdateParameter(buffer_offset, which);
    };
    examine(m_attack, m_last_attack, 1);
    examine(m_decay, m_last_decay, 2);
    examine(m_sustain, m_last_sustain, 3);
    examine(m_release, m_last_release, 4);
    examine(m_overall_level, m_last_level, 5);
}

// Each step moves the full peak level in its segment's time, except the
// decay's, which moves half of it. A new overall level rescales every step
// from the stored times.
void Module::UpdateParameter(int32_t buffer_offset, int32_t which) {
    switch (which) {
        case 1:
            m_attack_samples = SegmentSamples(m_attack[buffer_offset], kAttackReleaseOffset, m_sample_rate);
            m_attack_step = m_peak_level / m_attack_samples;
            break;
        case 2:
            m_decay_samples = SegmentSamples(m_decay[buffer_offset], kDecayOffset, m_sample_rate);
            m_decay_step = FallStep((m_peak_level * 0.5f) / m_decay_samples);
            break;
        case 3:
            m_sustain_level = ClampSustain(m_sustain[buffer_offset]) * m_peak_level;
            break;
        case 4:
            m_release_samples = SegmentSamples(m_release[buffer_offset], kAttackReleaseOffset, m_sample_rate);
            m_release_step = FallStep(m_peak_level / m_release_samples);
            break;
        case 5: {
            const float level = m_overall_level[buffer_offset];
            m_peak_level = level < 0.0f ? 0.0f : level;
            // The sustain input is read again here; a non-finite one counts
            // as the last finite sustain examined.
            const float sustain = m_sustain[buffer_offset];
            m_attack_step = m_peak_level / m_attack_samples;
            m_sustain_level = ClampSustain(std::isfinite(sustain) ? sustain : m_last_sustain) * m_peak_level;
            m_decay_step = FallStep((1.0f / m_decay_samples) * (m_peak_level * 0.5f));
            m_release_step = FallStep((1.0f / m_release_samples) * m_peak_level);
            break;
        }
        default:
            break;
    }
}
