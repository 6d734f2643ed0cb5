// Other ways to compute what the plug-ins compute, timed beside them in the
// same run. Each renders one processing call into a float buffer, keeps its
// state between calls, and is written the way a careful straightforward
// implementation would be, so that a ratio against it means something.
#ifndef VX_BENCH_BASELINES_H
#define VX_BENCH_BASELINES_H

#include <cstdint>
#include <vector>

namespace vxbench {

// The harmonic series of the oscillator's tones rendered partial by partial:
// partial k at 440·(k + 1) Hz with amplitude 0.5^k, scaled like the
// oscillator's one-sided output.
struct PartialSet {
    PartialSet(int32_t count, float sample_rate);
    std::vector<double> amplitude;
    std::vector<double> increment;  // radians per sample
};

// One std::sin per partial per sample, phases in double.
class SinAdditive {
public:
    SinAdditive(int32_t partials, float sample_rate);
    void Render(float* out, int32_t frames);

private:
    PartialSet m_set;
    std::vector<double> m_phase;
};

// A bank of recursive oscillators: each partial is a unit vector rotated by
// its frequency every sample (four multiplications, two additions), pulled
// back to unit length once per call so that rounding does not let it drift.
class RotationBank {
public:
    RotationBank(int32_t partials, float sample_rate);
    void Render(float* out, int32_t frames);

private:
    PartialSet m_set;
    std::vector<double> m_cos_step, m_sin_step, m_re, m_im;
};

// The floor for the envelope: a loop that only writes a linear ramp, one
// addition per sample, restarting from 0 when it has passed 1.
class RampLoop {
public:
    void Render(float* out, int32_t frames);

private:
    float m_level = 0.0f;
    float m_step = 1.0f / 868.0f;
};

// Filling the buffer with a constant: what a held or idle envelope need cost.
void FillLoop(float* out, int32_t frames, float value);
// The same fill as the compiler's vectoriser writes it when it is allowed
// to (GCC at -O3): one 16-byte store per step, then the last samples one by
// one. The project builds at -O2, where FillLoop stays a scalar loop.
void FillVector(float* out, int32_t frames, float value);

}  // namespace vxbench

#endif  // VX_BENCH_BASELINES_H
