// The per-sample synthesis: every input sample and the "Mode" value become
// one output sample, by the closed form of the partial series.
#include <cmath>

#include "ClosedFormFallbacks.h"
#include "Module.h"
#include "PartialCount.h"
#include "SummationMath.h"

using namespace sumtone;

// Processing routine. "maxfreq" and "N" count from the call's first sample
// only; every other input is read afresh at every sample, and the carried
// partial count lives for this call only.
void Module::RenderSamples(int32_t buffer_offset, int32_t sample_frames) {
    const float* fc = m_fc + buffer_offset;
    const float* fm1 = m_fm1 + buffer_offset;
    const float* ratio = m_a + buffer_offset;
    const float* gate = m_gate + buffer_offset;
    const float* detune = m_detune + buffer_offset;
    float* out = m_output + buffer_offset;
    const double max_freq = 10.0 * static_cast<double>(m_maxfreq[buffer_offset]);
    const int32_t requested = RequestedCount(m_n[buffer_offset], max_freq);
    int32_t n = -1;
    // A closed gate, and a sample without any partial in range, restart both
    // phases so that sound resumes at θ = β = 0.
    const auto silence = [&](int32_t j) {
        out[j] = 0.0f;
        m_phase = 0.0;
        m_spacing_phase = 0.0;
    };

    for (int32_t j = 0; j < sample_frames; ++j) {
        if (gate[j] == 0.0f) {
            silence(j);
            continue;
        }
        if (fc[j] != m_cached_fc) {  // the one exponential, only when "fc" moves
            m_cached_fc = fc[j];
            m_cached_freq = PitchToFrequency(fc[j]);
        }
        const double f = m_cached_freq;
        const double spacing = 10.0 * (std::fabs(f) * static_cast<double>(fm1[j]) +
                                       static_cast<double>(detune[j]));
        const PartialSeries series = PartialCount(n, f, spacing, max_freq, requested);
        n = series.count;
        if (n < 0) {
            silence(j);
            continue;
        }

        const double multiple = ReduceSpacingMultiple(n, m_spacing_phase);
        const SeriesAngles angles = AngleSums(m_phase, m_spacing_phase, multiple);
        const double phase_step = series.lowest * m_phase_scale;
        const double spacing_step = spacing * m_phase_scale;
        const double a = GuardRatio(10.0 * static_cast<double>(ratio[j]));
        const double power = PowerBySquaring(a, n);
        const bool one_sided = m_mode == 1;
        const double numerator = one_sided ? OneSidedNumerator(angles, a, power)
                                           : TwoSidedNumerator(angles, a, power);
        const double denominator = SpacingDenominator(a, angles.spacing.cosine);
        m_phase += phase_step;
        m_spacing_phase += spacing_step;
        // Near a·e^(iβ) = 1, and where a^(n+1) overflows, the plain closed form
        // divides rounding noise or infinities; the fallbacks give the same sum.
        double value = ClosedFormSample(a, numerator, denominator, power);
        if (denominator < kNearSingularDistance) value = NearSingularSample(one_sided, a, n, angles);
        if (!std::isfinite(value)) value = TopPartialsSample(one_sided, a, power, angles);
        out[j] = std::isfinite(value) ? ToSample(value) : 0.0f;
        m_phase = WrapPhase(m_phase);
        m_spacing_phase = WrapPhase(m_spacing_phase);
    }
}
