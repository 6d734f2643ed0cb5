// The envelope's time scale and its output are the same bits on every target.
#include <cmath>
#include <cstring>

#include "VXMath.h"
#include "ramplet_host.h"

// The power of two the plug-in uses gives the same segment times as the
// library power function, over and well beyond the input range.
TEST(EnvelopeDeterminism, TimeScaleMatchesThePowerFunction) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f, 22050.0f, 256.0f}) {
        for (float offset : {6.666666f, 7.666666f}) {
            for (int32_t k = -300000; k <= 300000; ++k) {
                const float input = static_cast<float>(k) * 1e-5f;
                const float e = input * 10.0f - offset;
                ASSERT_EQ(static_cast<float>(vx::Exp2(e) * rate), static_cast<float>(std::pow(2.0, e) * rate))
                    << "input " << input << " offset " << offset << " rate " << rate;
            }
        }
    }
}

// Notes with and without reset, retriggers, inputs changing between notes,
// spells without gate watch, and calls of uneven length at 44100 Hz: the
// output bits hash to one constant on every target.
TEST(EnvelopeDeterminism, ScenarioRendersTheSameBitsEverywhere) {
    Inputs in;
    in.attack = 0.13f;
    in.decay = 0.31f;
    in.sustain = 0.62f;
    in.release = 0.27f;
    in.level = 0.9f;
    Envelope env(44100.0f, 1024, in);
    const int32_t kCallSizes[] = {1024, 700, 1, 333, 512, 97, 1024, 64};
    uint64_t hash = 1469598103934665603ull;
    uint32_t sample = 0;
    for (int call = 0; call < 480; ++call) {
        const int32_t frames = kCallSizes[call % 8];
        if (call % 40 == 0) env.Notify(GATE, call % 80 == 0 ? ST_RUN : ST_ONE_OFF);
        if (call % 40 == 25) env.Notify(DECAY, ST_ONE_OFF);
        if (call == 120) {
            env.host.Fill(ATTACK, 0.02f);
            env.host.Fill(LEVEL, 0.5f);
        }
        if (call == 200) {
            env.host.Fill(DECAY, 0.05f);
            env.host.Fill(SUSTAIN, 0.2f);
        }
        if (call == 260) env.host.SetSetting(RESET_ON_TRIGGER, 1.0);
        if (call == 330) {
            env.host.Fill(RELEASE, 0.4f);
            env.host.Fill(LEVEL, 1.2f);
        }
        for (int32_t k = 0; k < frames; ++k, ++sample) {
            // Notes of uneven length, one of them held by a negative gate.
            const uint32_t phase = sample % 23011;
            env.host.Buffer(GATE)[k] = phase < 9000    ? 1.0f
                                       : phase < 11000 ? 0.0f
                                       : phase < 12000 ? 1.0f
                                       : phase < 14000 ? 0.0f
                                       : phase < 16500 ? -0.5f
                                                       : 0.0f;
        }
        for (float v : env.Call(frames)) {
            uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            hash = (hash ^ bits) * 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 0x05cc6e5f98c0e7bfull);
}
