// The two places where the closed form of the sample loop cannot be evaluated
// in double as written, and what is evaluated there instead. Both give the
// same sums; they only avoid dividing rounding noise by rounding noise.
//
// Near a·e^(iβ) = 1 (a ratio close to 1 and a spacing angle close to 0, as
// at every phase restart with "a" 0.1) the numerator, |1 - a·e^(iβ)|² and
// a^(n+1) - 1 all vanish together and the plain evaluation divides their
// rounding errors, down to 0/0. There the geometric sum Σ z^k, z = a·e^(iβ),
// is formed as (z^(n+1) - 1)/(z - 1) with the "- 1" carried through the
// repeated squaring, so that no small difference of nearly equal numbers is
// ever taken.
//
// With a ratio above 1 and a count so large that a^(n+1) overflows, the sum
// is dominated by its top partials; dividing numerator and denominator by
// a^(n+1) first keeps every intermediate finite.
#ifndef SUMTONE_CLOSEDFORMFALLBACKS_H
#define SUMTONE_CLOSEDFORMFALLBACKS_H

#include <cstdint>

#include "SummationMath.h"

namespace sumtone {

// The plain closed form's rounding error grows as about 5e-15 / D, with
// D = |1 - a·e^(iβ)|²; below 2^-20 it passes 5e-9 and soon outgrows the sine
// polynomials' own error (about 5e-8), so the sum is formed the other way.
constexpr double kNearSingularDistance = 1.0 / 1048576.0;  // 2^-20

// Plain complex arithmetic: std::complex multiplication may call into the
// runtime library for its infinity rules.
struct Complex {
    double re;
    double im;
};

inline Complex Times(Complex x, Complex y) { return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re}; }

inline Complex Plus(Complex x, Complex y) { return {x.re + y.re, x.im + y.im}; }

inline Complex Over(Complex x, Complex y) {
    const double norm = y.re * y.re + y.im * y.im;
    return {(x.re * y.re + x.im * y.im) / norm, (x.im * y.re - x.re * y.im) / norm};
}

// (1 + w)^e - 1 by repeated squaring of 1 + w with the 1 kept apart:
// (1 + b)² - 1 = 2b + b², (1 + r)(1 + b) - 1 = r + b + r·b. The result keeps
// its relative precision however close 1 + w lies to 1.
inline Complex PowerMinusOne(Complex w, uint32_t e) {
    Complex r{0.0, 0.0};
    Complex b = w;
    for (; e > 0; e >>= 1) {
        if ((e & 1u) != 0) r = Plus(Plus(r, b), Times(r, b));
        b = Plus(Plus(b, b), Times(b, b));
    }
    return r;
}

inline double PowerMinusOne(double w, uint32_t e) {
    double r = 0.0;
    double b = w;
    for (; e > 0; e >>= 1) {
        if ((e & 1u) != 0) r = r + b + r * b;
        b = b + b + b * b;
    }
    return r;
}

// z - 1 for z = a·e^(iβ), with a·cos β - 1 written as
// (a - 1)·cos β - 2·sin²(β/2) so that its real part carries no cancellation.
inline Complex SpacingStepFromOne(double a, const SeriesAngles<double>& t) {
    const double sin_half = t.spacing_half.sine;
    return {(a - 1.0) * t.spacing.cosine - 2.0 * sin_half * sin_half, a * t.spacing.sine};
}

// The sample near a·e^(iβ) = 1, n >= 0, a != 1 (the ratio guard sees to it).
inline double NearSingularSample(bool one_sided, double a, int32_t n, const SeriesAngles<double>& t) {
    const uint32_t terms = static_cast<uint32_t>(n) + 1u;
    const double delta = a - 1.0;
    const Complex step = SpacingStepFromOne(a, t);
    const Complex geometric = Over(PowerMinusOne(step, terms), step);  // Σ (k = 0 … n) z^k
    const double one_sided_amplitudes = PowerMinusOne(delta, terms);   // (a - 1)·Σ a^k
    const double series = one_sided ? t.lowest.sine * geometric.re + t.lowest.cosine * geometric.im
                                    : t.lowest.sine * (2.0 * geometric.re - 1.0);
    return series * delta / (2.0 * one_sided_amplitudes);
}

// The sample with numerator and denominator divided by a^(n+1) (power).
inline double TopPartialsSample(bool one_sided, double a, double power, const SeriesAngles<double>& t) {
    const double inverse = 1.0 / power;
    const Complex step = SpacingStepFromOne(a, t);
    const double distance = step.re * step.re + step.im * step.im;  // |1 - a·e^(iβ)|²
    const double numerator =
        one_sided ? (t.lowest.sine - a * t.sin_below) * inverse - (t.sin_above - a * t.sin_top)
                  : ((1.0 - a * a) * inverse - 2.0 * (t.cos_next - a * t.multiple.cosine)) * t.lowest.sine;
    return (a - 1.0) * numerator / (2.0 * distance * (1.0 - inverse));
}

}  // namespace sumtone

#endif  // SUMTONE_CLOSEDFORMFALLBACKS_H
