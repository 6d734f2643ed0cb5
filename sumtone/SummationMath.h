// The per-sample arithmetic of the oscillator, one small inline function per
// stage of the sample loop, each in its fixed order of operations: the
// results must be the same bits on every target and on every lane width, so
// nothing here is reassociated or fused.
//
// The stages written as templates take T = double for one sample, or a GCC
// vector of doubles for several samples side by side (SampleLanes.h): the
// vector operators work lane by lane with the same IEEE rounding, so both
// forms run the very same sequence of operations on each sample.
#ifndef SUMTONE_SUMMATIONMATH_H
#define SUMTONE_SUMMATIONMATH_H

#include <emmintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "VXMath.h"

// The AVX2 lanes are compiled only inside functions marked for AVX2, and GCC
// generates code for a function's target only where it is inlined into it; a
// stage left out of line would run 256-bit vectors through SSE2 code.
#define SUMTONE_INLINE inline __attribute__((always_inline))

namespace sumtone {

template <class T>
struct SinCos {
    T sine;
    T cosine;
};

// x in every lane of T: 0 + x is x for every x but -0.
template <class T>
SUMTONE_INLINE T Splat(double x) {
    return T{} + x;
}

// The double nearest to 1/k!; k! is exact in double up to 22!, and the
// division is correctly rounded.
constexpr double kInvFactorial2 = 1.0 / 2.0;
constexpr double kInvFactorial3 = 1.0 / 6.0;
constexpr double kInvFactorial4 = 1.0 / 24.0;
constexpr double kInvFactorial5 = 1.0 / 120.0;
constexpr double kInvFactorial6 = 1.0 / 720.0;
constexpr double kInvFactorial7 = 1.0 / 5040.0;
constexpr double kInvFactorial8 = 1.0 / 40320.0;
constexpr double kInvFactorial9 = 1.0 / 362880.0;
constexpr double kInvFactorial10 = 1.0 / 3628800.0;
constexpr double kInvFactorial11 = 1.0 / 39916800.0;
constexpr double kInvFactorial12 = 1.0 / 479001600.0;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kLn2 = 0.6931471805599453;

// sin and cos of the half angle u = y·π/2 by their Taylor polynomials, the
// terms summed as written, largest first. Kept apart from the doubling step
// because the evaluation near the closed form's singular point needs the
// half-angle sine itself (1 - cos β = 2 sin²(β/2) without cancellation).
template <class T>
SUMTONE_INLINE SinCos<T> HalfAngleSinCos(T y) {
    const T u = y * kHalfPi;
    const T u2 = u * u;
    // Each power is used as soon as it is formed, so that few values are
    // live at once; both sums still run left to right, largest term first.
    T s = u;
    T c = 1.0 - u2 * kInvFactorial2;
    T odd = u2 * u;  // u³
    s = s - odd * kInvFactorial3;
    T even = u2 * u2;  // u⁴
    c = c + even * kInvFactorial4;
    odd = odd * u2;  // u⁵
    s = s + odd * kInvFactorial5;
    even = even * u2;  // u⁶
    c = c - even * kInvFactorial6;
    odd = odd * u2;  // u⁷
    s = s - odd * kInvFactorial7;
    even = even * u2;  // u⁸
    c = c + even * kInvFactorial8;
    odd = odd * u2;  // u⁹
    s = s + odd * kInvFactorial9;
    even = even * u2;  // u¹⁰
    c = c - even * kInvFactorial10;
    odd = odd * u2;  // u¹¹
    s = s - odd * kInvFactorial11;
    even = even * u2;  // u¹²
    c = c + even * kInvFactorial12;
    return {s, c};
}

// From the half angle back to the whole one.
template <class T>
SUMTONE_INLINE SinCos<T> DoubleAngle(SinCos<T> half) {
    return {2.0 * half.sine * half.cosine, half.cosine * half.cosine - half.sine * half.sine};
}

// sin(π·y) and cos(π·y) for y in [-1, 1], within 2e-7; no range reduction of
// its own, the callers keep y in range.
template <class T>
SUMTONE_INLINE SinCos<T> SinCosHalfCycles(T y) {
    return DoubleAngle(HalfAngleSinCos(y));
}

// rnd(x): the nearest int32, halves to even. The conversion instruction rounds
// by MXCSR, which the framework holds at its default inside processing
// routines. Values beyond the int32 range saturate, which keeps every
// comparison of a count with the requested count as it would be with the
// exact integer; NaN counts as the lowest value, so it never asks for
// partials.
inline int32_t RoundHalfEven(double x) {
    x = x >= -2147483648.0 ? x : -2147483648.0;
    x = x <= 2147483647.0 ? x : 2147483647.0;
    return _mm_cvtsd_si32(_mm_set_sd(x));
}

// 440 Hz at "fc" 0.5, one octave per 0.1. Evaluated as e^(ln 2·t)·440 with
// the deterministic exponential, so every target gets the same bits.
inline double PitchToFrequency(float fc) {
    const double octaves = 10.0 * static_cast<double>(fc) - 5.0;
    return vx::Exp(kLn2 * octaves) * 440.0;
}

// The requested partial count of a call. A "N" or "maxfreq" that is not a
// number requests no partial at all, so the call is silent rather than
// guessing a count.
inline int32_t RequestedCount(float n_input, double max_freq) {
    if (std::isnan(n_input) || std::isnan(max_freq)) return -1;
    return RoundHalfEven(10.0 * static_cast<double>(n_input));
}

// n·spacing_phase reduced modulo 2 into (-1, 1]: π·result is the angle nβ.
inline double ReduceSpacingMultiple(int32_t n, double spacing_phase) {
    double x = static_cast<double>(n) * spacing_phase * 0.5;
    x = x - static_cast<double>(RoundHalfEven(x - 0.5));
    const double y = 2.0 * x;
    return y > 1.0 ? y - 2.0 : y;
}

// A ratio this close to 1 would make 1 - a and 1 - a^(n+1) vanish.
constexpr double kRatioGuardDistance = 0.00000001;
constexpr double kGuardedRatio = 1.00000001;

inline double GuardRatio(double a) { return std::fabs(a - 1.0) < kRatioGuardDistance ? kGuardedRatio : a; }

// a^(n+1) by repeated squaring, n >= 0; the exponent is unsigned so that
// n = INT32_MAX still has a successor. With lanes, every lane has this n.
template <class T>
SUMTONE_INLINE T PowerBySquaring(T a, int32_t n) {
    T r = Splat<T>(1.0);
    T b = a;
    for (uint32_t e = static_cast<uint32_t>(n) + 1u; e > 0; e >>= 1) {
        r = (e & 1u) != 0 ? r * b : r;
        b = b * b;
    }
    return r;
}

// The sines and cosines of one sample: θ the lowest partial, β the spacing,
// nβ the reduced multiple, and their angle sums.
template <class T>
struct SeriesAngles {
    SinCos<T> lowest;        // sin θ, cos θ
    SinCos<T> spacing;       // sin β, cos β
    SinCos<T> spacing_half;  // sin β/2, cos β/2 (the polynomial values before doubling)
    SinCos<T> multiple;      // sin nβ, cos nβ
    T sin_next;              // sin (n+1)β
    T cos_next;              // cos (n+1)β
    T sin_top;               // sin (θ + nβ)
    T sin_below;             // sin (θ - β)
    T sin_above;             // sin (θ + (n+1)β)
};

// The angle sums from the sines and cosines already in t.
template <class T>
SUMTONE_INLINE void CombineAngles(SeriesAngles<T>& t) {
    const T sn = t.multiple.sine, cn = t.multiple.cosine;
    const T s1 = t.lowest.sine, c1 = t.lowest.cosine;
    const T s2 = t.spacing.sine, c2 = t.spacing.cosine;
    t.sin_next = sn * c2 + cn * s2;
    t.cos_next = cn * c2 - sn * s2;
    t.sin_top = sn * c1 + cn * s1;
    t.sin_below = s1 * c2 - c1 * s2;
    t.sin_above = t.cos_next * s1 + t.sin_next * c1;
}

template <class T>
SUMTONE_INLINE SeriesAngles<T> AngleSums(T phase, T spacing_phase, T multiple) {
    SeriesAngles<T> t;
    // nβ last: its reduction delays it, and the other two need not wait.
    t.lowest = SinCosHalfCycles(phase);
    t.spacing_half = HalfAngleSinCos(spacing_phase);
    t.spacing = DoubleAngle(t.spacing_half);
    t.multiple = SinCosHalfCycles(multiple);
    CombineAngles(t);
    return t;
}

// Σ (k = 0 … n) a^k·sin(θ + kβ), times the closed form's denominator.
template <class T>
SUMTONE_INLINE T OneSidedNumerator(const SeriesAngles<T>& t, T a, T power) {
    return t.lowest.sine - a * t.sin_below - power * (t.sin_above - a * t.sin_top);
}

// Σ (k = -n … n) a^|k|·sin(θ + kβ), times the same denominator.
template <class T>
SUMTONE_INLINE T TwoSidedNumerator(const SeriesAngles<T>& t, T a, T power) {
    return (1.0 - a * a - 2.0 * power * (t.cos_next - a * t.multiple.cosine)) * t.lowest.sine;
}

template <class T>
SUMTONE_INLINE T Numerator(bool one_sided, const SeriesAngles<T>& t, T a, T power) {
    return one_sided ? OneSidedNumerator(t, a, power) : TwoSidedNumerator(t, a, power);
}

// |1 - a·e^(iβ)|², as the closed form writes it.
template <class T>
SUMTONE_INLINE T SpacingDenominator(T a, T cos_spacing) {
    return a * a + 1.0 - 2.0 * a * cos_spacing;
}

template <class T>
SUMTONE_INLINE T ClosedFormSample(T a, T numerator, T denominator, T power) {
    return (a - 1.0) * numerator / (2.0 * denominator * (power - 1.0));
}

// Only a frequency beyond the sample rate advances a phase by more than 2, and
// only a broken sample rate makes it non-finite; rather than let the phase
// run away for good, it is reduced whole (or restarted), so that sound is
// normal again as soon as the frequencies are back in range.
inline double ReduceRunawayPhase(double p) {
    if (!std::isfinite(p)) return 0.0;
    const double half = p * 0.5;
    constexpr double kTwoPow52 = 4503599627370496.0;
    if (!(std::fabs(half) < kTwoPow52)) return 0.0;  // p is then an even integer
    // Adding and removing 2^52 rounds half to the nearest integer (ties to even).
    const double whole = half >= 0.0 ? (half + kTwoPow52) - kTwoPow52 : (half - kTwoPow52) + kTwoPow52;
    return p - 2.0 * whole;
}

// One correction per sample keeps a phase in [-1, 1] for every frequency up to
// the sample rate; exactly 1 and -1 stay.
inline double CorrectPhaseOnce(double p) {
    if (p > 1.0) {
        p -= 2.0;
    } else if (p < -1.0) {
        p += 2.0;
    }
    return p;
}

inline double WrapPhase(double p) {
    p = CorrectPhaseOnce(p);
    return p >= -1.0 && p <= 1.0 ? p : ReduceRunawayPhase(p);
}

// A phase in [-1, 1] advanced by at most 2 in magnitude lies in [-3, 3], and
// one correction brings it back: WrapPhase never needs the reduction then.
inline bool StepNeedsNoReduction(double step) { return std::fabs(step) <= 2.0; }

// Stored as a 32-bit sample; a value past the float range (only reachable
// with ratios far from any sound setting) saturates instead of leaving the
// conversion undefined.
inline float ToSample(double value) {
    value = value > FLT_MAX ? FLT_MAX : value;
    value = value < -FLT_MAX ? -FLT_MAX : value;
    return static_cast<float>(value);
}

}  // namespace sumtone

#endif  // SUMTONE_SUMMATIONMATH_H
