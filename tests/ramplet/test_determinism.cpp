// The envelope's time scale and its output are the same bits on every target.
//
// The scenario's samples in data/scenario.f32 (little-endian 32-bit floats)
// come from the native build; after a deliberate change of the envelope's
// sound, rewrite them by running the native ramplet_tests with
// VX_WRITE_REFERENCE=1 in the environment.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/StoredSamples.h"
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

namespace {

const char* const kReference = VX_TEST_SOURCE_DIR "/ramplet/data/scenario.f32";

// Notes with and without reset, retriggers, a note held by a negative gate,
// inputs changing between notes, spells without gate watch, and calls of
// uneven length, at 4410 Hz so that whole notes fit in few samples.
std::vector<float> RenderScenario() {
    Inputs in;
    in.attack = 0.13f;
    in.decay = 0.31f;
    in.sustain = 0.62f;
    in.release = 0.27f;
    in.level = 0.9f;
    Envelope env(4410.0f, 128, in);
    const int32_t kCallSizes[] = {102, 70, 1, 33, 51, 10, 102, 6};
    std::vector<float> all;
    uint32_t sample = 0;
    for (int call = 0; call < 240; ++call) {
        const int32_t frames = kCallSizes[call % 8];
        if (call % 20 == 0) env.Notify(GATE, call % 40 == 0 ? ST_RUN : ST_ONE_OFF);
        if (call % 20 == 13) env.Notify(DECAY, ST_ONE_OFF);
        if (call == 60) {
            env.host.Fill(ATTACK, 0.02f);
            env.host.Fill(LEVEL, 0.5f);
        }
        if (call == 100) {
            env.host.Fill(DECAY, 0.05f);
            env.host.Fill(SUSTAIN, 0.2f);
        }
        if (call == 130) env.host.SetSetting(RESET_ON_TRIGGER, 1.0);
        if (call == 165) {
            env.host.Fill(RELEASE, 0.4f);
            env.host.Fill(LEVEL, 1.2f);
        }
        for (int32_t k = 0; k < frames; ++k, ++sample) {
            const uint32_t phase = sample % 2301;
            env.host.Buffer(GATE)[k] = phase < 900    ? 1.0f
                                       : phase < 1100 ? 0.0f
                                       : phase < 1200 ? 1.0f
                                       : phase < 1400 ? 0.0f
                                       : phase < 1650 ? -0.5f
                                                      : 0.0f;
        }
        const Samples out = env.Call(frames);
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

}  // namespace

// The scenario's output, sample by sample, is the one the native build
// stored; a failure names the first sample that moved.
TEST(EnvelopeDeterminism, ScenarioRendersTheStoredSamplesEverywhere) {
    const std::vector<float> samples = RenderScenario();
    vxtest::ExpectStoredSamples(kReference, samples);
}
