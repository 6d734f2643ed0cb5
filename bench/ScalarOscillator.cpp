// Where the plug-in deliberately departs from the bare closed form, this loop
// follows it, so that both give the same bits for every input:
// - the pitch exponential is the framework's deterministic vx::Exp, not the
//   runtime's exp, so that every target computes the same frequency;
// - counts are rounded with saturation at the int32 range, a "N" or
//   "maxfreq" that is not a number requests no partial, a frequency or
//   spacing that is not finite silences the sample, and so does a negative
//   requested count (no partial to render instead of a zero denominator);
// - near a·e^(iβ) = 1 (|1 - a·e^(iβ)|² below 2^-20) the sample is the
//   geometric sum evaluated without cancellation, and a result that is not
//   finite (a^(n+1) overflowing) is evaluated with everything divided by
//   a^(n+1) first; what is still not finite becomes 0, and values beyond
//   the float range saturate;
// - a phase that one correction cannot bring back into [-1, 1] (frequencies
//   beyond the sample rate) is reduced whole.
// The polynomials sum their terms as written, largest first, with the powers
// of u built by repeated multiplication by u²; the sample loop fixes the
// steps and their order but not this one, so it follows the plug-in.
#include "ScalarOscillator.h"

#include <emmintrin.h>

#include <cfloat>
#include <cmath>

#include "VXMath.h"

namespace vxbench {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kLn2 = 0.6931471805599453;
constexpr double kLeastLimitedSpacing = 0.0001;
constexpr double kNearSingular = 1.0 / 1048576.0;

struct Pair {
    double s;
    double c;
};

inline Pair HalfAngle(double y) {
    const double u = y * kHalfPi;
    const double u2 = u * u;
    const double u3 = u2 * u, u4 = u2 * u2;
    const double u5 = u3 * u2, u6 = u4 * u2;
    const double u7 = u5 * u2, u8 = u6 * u2;
    const double u9 = u7 * u2, u10 = u8 * u2;
    const double u11 = u9 * u2, u12 = u10 * u2;
    const double s = u - u3 * (1.0 / 6.0) + u5 * (1.0 / 120.0) - u7 * (1.0 / 5040.0) + u9 * (1.0 / 362880.0) -
                     u11 * (1.0 / 39916800.0);
    const double c = 1.0 - u2 * (1.0 / 2.0) + u4 * (1.0 / 24.0) - u6 * (1.0 / 720.0) + u8 * (1.0 / 40320.0) -
                     u10 * (1.0 / 3628800.0) + u12 * (1.0 / 479001600.0);
    return {s, c};
}

inline Pair Doubled(Pair h) { return {2.0 * h.s * h.c, h.c * h.c - h.s * h.s}; }

// Nearest, halves to even (MXCSR default), saturating; NaN goes to the lowest.
inline int32_t Rnd(double x) {
    if (!(x >= -2147483648.0)) x = -2147483648.0;
    if (!(x <= 2147483647.0)) x = 2147483647.0;
    return _mm_cvtsd_si32(_mm_set_sd(x));
}

struct Cx {
    double re;
    double im;
};

Cx Mul(Cx x, Cx y) { return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re}; }
Cx Add(Cx x, Cx y) { return {x.re + y.re, x.im + y.im}; }

// (1 + w)^e - 1 with the 1 kept apart, so that nothing cancels near w = 0.
Cx PowMinusOne(Cx w, uint32_t e) {
    Cx r{0.0, 0.0};
    for (Cx b = w; e > 0; e >>= 1) {
        if ((e & 1u) != 0) r = Add(Add(r, b), Mul(r, b));
        b = Add(Add(b, b), Mul(b, b));
    }
    return r;
}

double PowMinusOne(double w, uint32_t e) {
    double r = 0.0;
    for (double b = w; e > 0; e >>= 1) {
        if ((e & 1u) != 0) r = r + b + r * b;
        b = b + b + b * b;
    }
    return r;
}

inline double Wrap(double p) {
    if (p > 1.0) {
        p -= 2.0;
    } else if (p < -1.0) {
        p += 2.0;
    }
    if (p >= -1.0 && p <= 1.0) return p;
    if (!std::isfinite(p)) return 0.0;
    const double half = p * 0.5;
    constexpr double kTwo52 = 4503599627370496.0;
    if (!(std::fabs(half) < kTwo52)) return 0.0;
    const double whole = half >= 0.0 ? (half + kTwo52) - kTwo52 : (half - kTwo52) + kTwo52;
    return p - 2.0 * whole;
}

}  // namespace

void RenderScalar(OscillatorState& st, const OscillatorInputs& in, float* out, int32_t buffer_offset,
                  int32_t sample_frames) {
    if (sample_frames <= 0) return;
    const int32_t first = buffer_offset;
    const double maxf = 10.0 * static_cast<double>(in.maxfreq[first]);
    const int32_t nreq =
        std::isnan(in.n[first]) || std::isnan(maxf) ? -1 : Rnd(10.0 * static_cast<double>(in.n[first]));
    int32_t n = -1;

    for (int32_t j = first; j < first + sample_frames; ++j) {
        // 1. Gate.
        if (in.gate[j] == 0.0f) {
            out[j] = 0.0f;
            st.phase = 0.0;
            st.spacing_phase = 0.0;
            continue;
        }
        // 2. Frequency.
        if (in.fc[j] != st.cached_fc) {
            st.cached_fc = in.fc[j];
            st.cached_freq = vx::Exp(kLn2 * (10.0 * static_cast<double>(in.fc[j]) - 5.0)) * 440.0;
        }
        const double f = st.cached_freq;
        double f_eff = f;
        // 3. Spacing.
        const double S = 10.0 * (std::fabs(f) * static_cast<double>(in.fm1[j]) + static_cast<double>(in.detune[j]));

        // 4. Partial count.
        if (!std::isfinite(f) || !std::isfinite(S)) {
            n = -1;
        } else if (!(n >= 0 && std::fabs(f + static_cast<double>(n) * S) <= maxf &&
                     (n >= nreq || std::fabs(f + (static_cast<double>(n) + 1.0) * S) >= maxf))) {
            const double sigma = f < 0.0 ? -1.0 : 1.0;
            const double g = sigma * f;
            const double s = sigma * S;
            if (s > kLeastLimitedSpacing) {
                const int32_t q = Rnd((maxf - g) * (1.0 / s) - 0.5);
                n = q < nreq ? q : nreq;
            } else if (s >= -kLeastLimitedSpacing) {
                n = nreq;
            } else {
                const double inv = 1.0 / -s;
                if (g <= maxf) {
                    const int32_t q = Rnd((maxf + g) * inv - 0.5);
                    n = q < nreq ? q : nreq;
                } else {
                    const double k0 = (g - maxf) * inv + 0.5;
                    n = -1;
                    if (k0 < 2147483647.0) {
                        const int32_t k = Rnd(k0);
                        const double lowest = f + static_cast<double>(k) * S;
                        if (std::isfinite(lowest)) {
                            f_eff = lowest;
                            const int64_t q = Rnd((maxf + sigma * f_eff) * inv - 0.5);
                            const int64_t rest = static_cast<int64_t>(nreq) - k;
                            const int64_t m = q < rest ? q : rest;
                            n = m < 0 ? -1 : static_cast<int32_t>(m);
                        }
                    }
                }
            }
        }
        if (n < 0) {
            out[j] = 0.0f;
            st.phase = 0.0;
            st.spacing_phase = 0.0;
            continue;
        }

        // 5. n·β reduced into (-1, 1] half-cycles.
        double x = static_cast<double>(n) * st.spacing_phase * 0.5;
        x = x - static_cast<double>(Rnd(x - 0.5));
        double y = 2.0 * x;
        if (y > 1.0) y = y - 2.0;

        // 6. Sines, cosines and angle sums.
        const Pair nb = Doubled(HalfAngle(y));
        const Pair th = Doubled(HalfAngle(st.phase));
        const Pair half_b = HalfAngle(st.spacing_phase);
        const Pair b = Doubled(half_b);
        const double sin_n1 = nb.s * b.c + nb.c * b.s;
        const double cos_n1 = nb.c * b.c - nb.s * b.s;
        const double sin_tn = nb.s * th.c + nb.c * th.s;
        const double sin_tmb = th.s * b.c - th.c * b.s;
        const double sin_tn1 = cos_n1 * th.s + sin_n1 * th.c;

        // 7. Phase advances.
        const double inc1 = f_eff * st.phase_scale;
        const double inc2 = S * st.phase_scale;

        // 8. Ratio guard.
        double a = 10.0 * static_cast<double>(in.a[j]);
        if (std::fabs(a - 1.0) < 0.00000001) a = 1.00000001;

        // 9. A = a^(n+1).
        double A = 1.0;
        double base = a;
        for (uint32_t e = static_cast<uint32_t>(n) + 1u; e > 0; e >>= 1) {
            A = (e & 1u) != 0 ? A * base : A;
            base = base * base;
        }

        // 10. Numerator.
        const bool one_sided = st.mode == 1;
        const double X = one_sided ? th.s - a * sin_tmb - A * (sin_tn1 - a * sin_tn)
                                   : (1.0 - a * a - 2.0 * A * (cos_n1 - a * nb.c)) * th.s;

        // 11. Output and phases.
        const double D = a * a + 1.0 - 2.0 * a * b.c;
        st.phase += inc1;
        st.spacing_phase += inc2;
        double v = (a - 1.0) * X / (2.0 * D * (A - 1.0));

        // z - 1 for z = a·e^(iβ), its real part free of cancellation.
        const auto step_from_one = [&] { return Cx{(a - 1.0) * b.c - 2.0 * half_b.s * half_b.s, a * b.s}; };
        if (D < kNearSingular) {
            const Cx step = step_from_one();
            const uint32_t terms = static_cast<uint32_t>(n) + 1u;
            const Cx num = PowMinusOne(step, terms);
            const double norm = step.re * step.re + step.im * step.im;
            const Cx sum{(num.re * step.re + num.im * step.im) / norm, (num.im * step.re - num.re * step.im) / norm};
            const double amplitudes = PowMinusOne(a - 1.0, terms);
            const double series = one_sided ? th.s * sum.re + th.c * sum.im : th.s * (2.0 * sum.re - 1.0);
            v = series * (a - 1.0) / (2.0 * amplitudes);
        }
        if (!std::isfinite(v)) {
            const double inv = 1.0 / A;
            const Cx step = step_from_one();
            const double dist = step.re * step.re + step.im * step.im;
            const double top = one_sided ? (th.s - a * sin_tmb) * inv - (sin_tn1 - a * sin_tn)
                                         : ((1.0 - a * a) * inv - 2.0 * (cos_n1 - a * nb.c)) * th.s;
            v = (a - 1.0) * top / (2.0 * dist * (1.0 - inv));
        }
        if (std::isfinite(v)) {
            if (v > FLT_MAX) v = FLT_MAX;
            if (v < -FLT_MAX) v = -FLT_MAX;
            out[j] = static_cast<float>(v);
        } else {
            out[j] = 0.0f;
        }

        // 12. Wrap.
        st.phase = Wrap(st.phase);
        st.spacing_phase = Wrap(st.spacing_phase);
    }
}

}  // namespace vxbench
