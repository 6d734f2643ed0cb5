#include "Baselines.h"

#include <algorithm>
#include <cmath>

#include <xmmintrin.h>

namespace vxbench {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

}  // namespace

PartialSet::PartialSet(int32_t count, float sample_rate) {
    double sum = 0.0;
    for (int32_t k = 0; k < count; ++k) {
        amplitude.push_back(std::pow(0.5, k));
        increment.push_back(kTwoPi * 440.0 * (k + 1) / sample_rate);
        sum += amplitude.back();
    }
    for (double& a : amplitude) a /= 2.0 * sum;
}

SinAdditive::SinAdditive(int32_t partials, float sample_rate)
    : m_set(partials, sample_rate), m_phase(static_cast<size_t>(partials), 0.0) {}

void SinAdditive::Render(float* out, int32_t frames) {
    const size_t count = m_phase.size();
    const double* amplitude = m_set.amplitude.data();
    const double* increment = m_set.increment.data();
    double* phase = m_phase.data();
    for (int32_t j = 0; j < frames; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < count; ++k) {
            sum += amplitude[k] * std::sin(phase[k]);
            double p = phase[k] + increment[k];
            if (p > kPi) p -= kTwoPi;
            phase[k] = p;
        }
        out[j] = static_cast<float>(sum);
    }
}

RotationBank::RotationBank(int32_t partials, float sample_rate) : m_set(partials, sample_rate) {
    for (double w : m_set.increment) {
        m_cos_step.push_back(std::cos(w));
        m_sin_step.push_back(std::sin(w));
        m_re.push_back(1.0);
        m_im.push_back(0.0);
    }
}

void RotationBank::Render(float* out, int32_t frames) {
    const size_t count = m_re.size();
    const double* amplitude = m_set.amplitude.data();
    const double* cs = m_cos_step.data();
    const double* sn = m_sin_step.data();
    double* re = m_re.data();
    double* im = m_im.data();
    for (int32_t j = 0; j < frames; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < count; ++k) {
            const double r = re[k] * cs[k] - im[k] * sn[k];
            const double i = re[k] * sn[k] + im[k] * cs[k];
            re[k] = r;
            im[k] = i;
            sum += amplitude[k] * i;
        }
        out[j] = static_cast<float>(sum);
    }
    // First-order pull towards the unit circle: no square root needed.
    for (size_t k = 0; k < count; ++k) {
        const double g = (3.0 - (re[k] * re[k] + im[k] * im[k])) * 0.5;
        re[k] *= g;
        im[k] *= g;
    }
}

void RampLoop::Render(float* out, int32_t frames) {
    float level = m_level;
    const float step = m_step;
    for (int32_t j = 0; j < frames; ++j) {
        level += step;
        out[j] = level;
    }
    m_level = level > 1.0f ? 0.0f : level;
}

void FillLoop(float* out, int32_t frames, float value) { std::fill_n(out, frames, value); }

void FillVector(float* out, int32_t frames, float value) {
    const __m128 v = _mm_set1_ps(value);
    int32_t i = 0;
    for (; i + 4 <= frames; i += 4) _mm_storeu_ps(out + i, v);
    for (; i < frames; ++i) out[i] = value;
}

}  // namespace vxbench
