// Inputs outside any sensible range must not break the envelope or leave it
// broken once they are gone.
#include <cfloat>
#include <cmath>
#include <limits>

#include "ramplet_host.h"

namespace {

constexpr int32_t kCallFrames = 8;
constexpr int kCalls = 72;

// Two notes and a retrigger at 256 Hz, with times of some tens of samples.
float GateAt(int32_t sample) {
    if (sample < 200) return 1.0f;
    if (sample < 300) return 0.0f;
    if (sample < 330) return 1.0f;
    if (sample < 345) return 0.0f;
    return sample < 450 ? 1.0f : 0.0f;
}

Inputs Moderate() {
    Inputs in;
    in.attack = 0.5f;
    in.decay = 0.4f;
    in.sustain = 0.6f;
    in.release = 0.45f;
    in.level = 0.8f;
    return in;
}

// Output of every call; `disturb` may rewrite the inputs before call c.
template <class Disturb>
std::vector<Samples> Play(Envelope& env, Disturb disturb) {
    env.Notify(GATE, ST_RUN);
    std::vector<Samples> calls;
    for (int c = 0; c < kCalls; ++c) {
        for (int32_t k = 0; k < kCallFrames; ++k) env.host.Buffer(GATE)[k] = GateAt(c * kCallFrames + k);
        disturb(c);
        calls.push_back(env.Call(kCallFrames));
    }
    return calls;
}

bool AllFinite(const std::vector<Samples>& calls) {
    for (const Samples& call : calls)
        for (float v : call)
            if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

// The fault covers calls [from, from + 5); the input is back from call
// from + 5, and from the fifth call after that nothing may tell the two apart.
TEST(EnvelopeFaults, TransientNonFiniteInputLeavesNoTrace) {
    const float kFaults[] = {std::numeric_limits<float>::quiet_NaN(), INFINITY, -INFINITY};
    Envelope reference(kExactRate, 256, Moderate());
    const std::vector<Samples> undisturbed = Play(reference, [](int) {});
    ASSERT_TRUE(AllFinite(undisturbed));
    for (int32_t pin = ATTACK; pin <= LEVEL; ++pin) {
        for (float fault : kFaults) {
            for (int from : {1, 3, 13, 24, 30, 38, 41, 44, 50}) {
                Envelope env(kExactRate, 256, Moderate());
                const float normal = env.host.Buffer(pin)[0];
                const auto out = Play(env, [&](int c) {
                    if (c == from) env.host.Fill(pin, fault);
                    if (c == from + 5) env.host.Fill(pin, normal);
                });
                SCOPED_TRACE(testing::Message() << "pin " << pin << " = " << fault << " from call " << from);
                EXPECT_TRUE(AllFinite(out));
                for (int c = from + 5 + 4; c < kCalls; ++c) ASSERT_EQ(out[c], undisturbed[c]) << c;
            }
        }
    }
}

// A peak of 0 makes every step 0, even over a time of 0 samples, so the
// release holds the level it had reached instead of turning it into NaN.
TEST(EnvelopeFaults, ZeroPeakOverZeroReleaseTimeHoldsTheLevel) {
    Envelope env;
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(256, 1.0f));
    env.Calls(4, 4);
    env.Gate(Samples(256, 0.0f));
    env.host.Fill(RELEASE, 0.45f);
    env.Calls(4, 1);
    env.host.Fill(RELEASE, -100.0f);
    env.host.Fill(LEVEL, 0.0f);
    const Samples held = env.Call(4);
    EXPECT_TRUE(std::isfinite(held[0]));
    EXPECT_GT(held[0], 0.0f);
    EXPECT_EQ(held, Samples(4, held[0]));
}

// Extreme finite inputs and host sample rates give extreme times, never a
// non-finite sample.
TEST(EnvelopeFaults, ExtremeFiniteInputsAndRatesKeepTheOutputFinite) {
    const float kValues[] = {-FLT_MAX, -1e30f, -100.0f, -FLT_TRUE_MIN, 100.0f, 1e30f, FLT_MAX};
    for (float rate : {256.0f, 0.0f, -44100.0f, INFINITY, std::numeric_limits<float>::quiet_NaN()}) {
        for (int32_t pin = ATTACK; pin <= LEVEL; ++pin) {
            for (float value : kValues) {
                Envelope env(rate, 256, Moderate());
                env.host.Fill(pin, value);
                EXPECT_TRUE(AllFinite(Play(env, [](int) {}))) << "rate " << rate << ", pin " << pin << " = " << value;
            }
        }
    }
}
