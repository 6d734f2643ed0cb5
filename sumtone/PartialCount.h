// How many partials above the lowest a sample renders: as many as requested,
// but no more than keep every frequency f + k·S within ±maxf hertz. The count
// is carried from sample to sample and kept while it still fits, so the
// steady state costs no division.
#ifndef SUMTONE_PARTIALCOUNT_H
#define SUMTONE_PARTIALCOUNT_H

#include <cmath>
#include <cstdint>

#include "SummationMath.h"

namespace sumtone {

struct PartialSeries {
    int32_t count;  // n, the partials above the lowest; below 0 the sample is silent
    double lowest;  // frequency of the lowest rendered partial, at which the phase advances
};

// Spacings this small in magnitude leave the band limit unapplied, so that
// nothing is ever divided by a near-zero spacing.
constexpr double kLeastLimitedSpacing = 0.0001;

// The largest count a 32-bit count can hold, as a double.
constexpr double kCountRange = 2147483647.0;

inline bool CountStillFits(int32_t n, double f, double spacing, double max_freq, int32_t requested) {
    if (n < 0) return false;
    if (!(std::fabs(f + static_cast<double>(n) * spacing) <= max_freq)) return false;
    return n >= requested || std::fabs(f + (static_cast<double>(n) + 1.0) * spacing) >= max_freq;
}

inline PartialSeries CountAfresh(double f, double spacing, double max_freq, int32_t requested) {
    const double sign = f < 0.0 ? -1.0 : 1.0;
    const double magnitude = sign * f;      // g
    const double outward = sign * spacing;  // s, measured away from zero frequency
    if (outward > kLeastLimitedSpacing) {
        const int32_t q = RoundHalfEven((max_freq - magnitude) * (1.0 / outward) - 0.5);
        return {q < requested ? q : requested, f};
    }
    if (outward >= -kLeastLimitedSpacing) return {requested, f};

    // The partials move towards zero frequency and on beyond it.
    const double inverse = 1.0 / -outward;
    if (magnitude <= max_freq) {
        const int32_t q = RoundHalfEven((max_freq + magnitude) * inverse - 0.5);
        return {q < requested ? q : requested, f};
    }
    // The lowest partial itself is too high: the series starts at the first
    // step that has come down to maxf. A start beyond any 32-bit count lies
    // past every requested partial.
    const double steps_down = (magnitude - max_freq) * inverse + 0.5;
    if (!(steps_down < kCountRange)) return {-1, f};
    const int32_t first = RoundHalfEven(steps_down);
    const double lowest = f + static_cast<double>(first) * spacing;
    if (!std::isfinite(lowest)) return {-1, f};
    const int64_t q = RoundHalfEven((max_freq + sign * lowest) * inverse - 0.5);
    const int64_t remaining = static_cast<int64_t>(requested) - first;
    const int64_t n = q < remaining ? q : remaining;
    return {n < 0 ? -1 : static_cast<int32_t>(n), lowest};
}

// The count carried from sample to sample through one call; below 0 at the
// call's start, so that its first sounding sample works it out afresh.
class CarriedCount {
public:
    CarriedCount(double max_freq, int32_t requested) : m_max_freq(max_freq), m_requested(requested) {}

    int32_t Count() const { return m_n; }
    int32_t Requested() const { return m_requested; }
    double MaxFreq() const { return m_max_freq; }
    // Whether the last sample kept the count; the next sample with the same
    // frequency and spacing then keeps it too, with the same lowest partial.
    bool Kept() const { return !std::isnan(m_kept_f); }

    // What Next does for a sample known to keep the count: f and spacing
    // finite, and CountStillFits.
    void KeepFor(double f, double spacing) {
        m_kept_f = f;
        m_kept_spacing = spacing;
    }

    // The series of a sample with frequency f and spacing. A sample whose
    // frequency or spacing is not a finite number has no partial that could
    // be placed, and is silent.
    PartialSeries Next(double f, double spacing) {
        // Equal frequency and spacing (zeros of either sign included) give
        // the check that last kept the count the same outcome, so a steady
        // note skips it.
        if (f == m_kept_f && spacing == m_kept_spacing) return {m_n, f};
        if (std::isfinite(f) && std::isfinite(spacing) && CountStillFits(m_n, f, spacing, m_max_freq, m_requested)) {
            m_kept_f = f;
            m_kept_spacing = spacing;
            return {m_n, f};
        }
        m_kept_f = NAN;  // the count is about to change
        const PartialSeries series = std::isfinite(f) && std::isfinite(spacing)
                                         ? CountAfresh(f, spacing, m_max_freq, m_requested)
                                         : PartialSeries{-1, f};
        m_n = series.count;
        return series;
    }

private:
    double m_max_freq;
    int32_t m_requested;
    int32_t m_n = -1;
    double m_kept_f = NAN;  // NaN: no check has kept the current count
    double m_kept_spacing = NAN;
};

}  // namespace sumtone

#endif  // SUMTONE_PARTIALCOUNT_H
