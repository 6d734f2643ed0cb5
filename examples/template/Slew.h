// The glide's arithmetic, apart from the host: a level that moves towards
// its target by at most one step per sample. Module.cpp feeds it from the
// pins and tells the host what it does; a test or a benchmark can drive it
// directly.
#ifndef GLIDE_SLEW_H
#define GLIDE_SLEW_H

#include <cfloat>
#include <cmath>

namespace glide {

struct Slew {
    // In double: a float level near 1.0 would not move at all by the step of
    // a slow glide at a high sample rate (1e-8 is below half its last bit).
    double level = 0.0;

    // One sample towards `input`, rising by at most `rise` and falling by at
    // most `fall` (infinite: at once). Answers true once the level has
    // arrived, after which it holds still for as long as the input does.
    bool Step(float input, double rise, double fall) {
        // The host may feed anything: NaN and infinities count as 0, and a
        // denormal is flushed, so that the output stays a normal number.
        const double target = std::isfinite(input) && std::fabs(input) >= FLT_MIN ? input : 0.0;
        const double gap = target - level;
        const double step = gap > 0.0 ? rise : fall;
        const double next = gap > 0.0 ? level + step : level - step;
        // Arrive exactly: a level that stops a rounding error short would
        // never settle, and neither would one that a step too small to
        // change it cannot move.
        level = std::fabs(gap) <= step || next == level ? target : next;
        if (std::fabs(level) < FLT_MIN) level = 0.0;
        return level == target;
    }

    float Output() const { return static_cast<float>(level); }
};

}  // namespace glide

#endif  // GLIDE_SLEW_H
