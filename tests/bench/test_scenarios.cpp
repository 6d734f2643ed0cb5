// The benchmark's host and scenarios put the plug-ins where the timings claim
// they are: sounding the intended tone, walking through every envelope
// segment, and in a steady state without any host traffic. A scenario that
// silently measured something else (a closed gate, an unwatched gate, a
// sleeping module) would make every number in the table meaningless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "BenchHost.h"
#include "ScalarOscillator.h"
#include "Scenarios.h"
#include "TestPlugins.h"

namespace {

using namespace vxbench;

const vxhost::PluginLibrary& Library(const std::string& name) { return TestPlugin(name); }

const Tone kTones[] = {Tone::Harmonic, Tone::TwoSided, Tone::Wide,     Tone::FcEverySample, Tone::Vibrato,
                       Tone::Glide,    Tone::AudioFm,  Tone::Fm1Sweep, Tone::ASweep,        Tone::DetuneSweep};
const Envelope kScenes[] = {Envelope::NoteCycle, Envelope::SustainHold, Envelope::SustainUnwatched, Envelope::Idle,
                            Envelope::ControlsStreaming};

// One block of the envelope's output in calls of `frames`, after the start.
std::vector<float> EnvelopeBlock(Envelope scene, int32_t frames) {
    BenchHost host(Library("ramplet"), kBlockFrames, kSampleRate);
    StartEnvelope(host, scene);
    for (int32_t i = 0; i < kBlockFrames / frames; ++i) host.Next(frames);
    const float* out = host.Buffer(ENV_OUT);
    return std::vector<float>(out, out + kBlockFrames);
}

TEST(BenchScenarios, TonesSoundAsTheScalarLoopComputesThem) {
    for (Tone tone : kTones) {
        BenchHost host(Library("sumtone"), kBlockFrames, kSampleRate);
        StartTone(host, tone);
        Buffers signals(OSC_PINS, kBlockFrames);
        FillTone(signals, tone);
        OscillatorState reference(kSampleRate);
        reference.mode = ToneMode(tone);
        const OscillatorInputs in = InputsOf(signals);
        for (int32_t p = 0; p < kBlockFrames; p += 256) RenderScalar(reference, in, signals[OSC_OUTPUT], p, 256);

        for (int32_t p = 0; p < kBlockFrames; p += 64) {
            host.Next(64);
            RenderScalar(reference, in, signals[OSC_OUTPUT], p, 64);
        }
        float loudest = 0.0f;
        for (int32_t j = 0; j < kBlockFrames; ++j) {
            ASSERT_EQ(host.Buffer(OSC_OUTPUT)[j], signals[OSC_OUTPUT][j]) << "tone " << int(tone) << ", sample " << j;
            loudest = std::max(loudest, std::fabs(signals[OSC_OUTPUT][j]));
        }
        EXPECT_GT(loudest, 0.2f) << "tone " << int(tone);
    }
}

TEST(BenchScenarios, ModulatedTonesMoveTheirInputAtNearlyEverySample) {
    // A slow sine repeats a float now and then near its turning points; all
    // else moves at every sample, across the end of the block as well.
    const struct {
        Tone tone;
        int32_t pin;
    } moving[] = {{Tone::FcEverySample, OSC_FC},  {Tone::Vibrato, OSC_FC},   {Tone::Glide, OSC_FC},
                  {Tone::AudioFm, OSC_FC},        {Tone::Fm1Sweep, OSC_FM1}, {Tone::ASweep, OSC_A},
                  {Tone::DetuneSweep, OSC_DETUNE}};
    for (const auto& m : moving) {
        Buffers signals(OSC_PINS, kBlockFrames);
        FillTone(signals, m.tone);
        int32_t repeats = 0;
        for (int32_t j = 0; j < kBlockFrames; ++j)
            repeats += signals[m.pin][j] == signals[m.pin][(j + kBlockFrames - 1) % kBlockFrames];
        EXPECT_LT(repeats, kBlockFrames / 50) << "tone " << int(m.tone);
    }
}

TEST(BenchScenarios, NoteCyclePassesThroughEverySegmentInOneBlock) {
    const std::vector<float> out = EnvelopeBlock(Envelope::NoteCycle, 64);
    const auto top = std::max_element(out.begin(), out.end());
    EXPECT_NEAR(*top, 1.0f, 0.002f);
    EXPECT_NEAR(top - out.begin(), kAttackFrames, 2);
    // The decay reaches the sustain level, which holds until the gate falls.
    const int32_t sustain_from = kAttackFrames + kDecayFrames + 2;
    for (int32_t j = sustain_from; j < kGateHighFrames; ++j) ASSERT_EQ(out[j], kSustainLevel) << j;
    EXPECT_LT(out[kGateHighFrames], kSustainLevel);
    // The release ends, and the rest of the block is idle.
    const int32_t idle_from = kGateHighFrames + kReleaseFrames + 2;
    EXPECT_GT(out[idle_from - 10], 0.0f);
    for (int32_t j = idle_from; j < kBlockFrames; ++j) ASSERT_EQ(out[j], 0.0f) << j;
    // The next block plays the same note: the cycle does not drift.
    EXPECT_EQ(EnvelopeBlock(Envelope::NoteCycle, 1024), out);
}

TEST(BenchScenarios, HeldAndIdleEnvelopesWriteTheirConstant) {
    for (float v : EnvelopeBlock(Envelope::SustainHold, 256)) ASSERT_EQ(v, kSustainLevel);
    for (float v : EnvelopeBlock(Envelope::Idle, 256)) ASSERT_EQ(v, 0.0f);
}

TEST(BenchScenarios, UnwatchedSustainIgnoresTheGate) {
    BenchHost host(Library("ramplet"), kBlockFrames, kSampleRate);
    StartEnvelope(host, Envelope::SustainUnwatched);
    std::fill(host.Buffer(ENV_GATE), host.Buffer(ENV_GATE) + kBlockFrames, 0.0f);
    for (int32_t i = 0; i < kBlockFrames / 256; ++i) host.Next(256);
    for (int32_t j = 0; j < kBlockFrames; ++j) ASSERT_EQ(host.Buffer(ENV_OUT)[j], kSustainLevel) << j;
}

TEST(BenchScenarios, StreamingControlsChangeTheNote) {
    const std::vector<float> plain = EnvelopeBlock(Envelope::NoteCycle, 256);
    const std::vector<float> moving = EnvelopeBlock(Envelope::ControlsStreaming, 256);
    EXPECT_NE(plain, moving);
}

TEST(BenchScenarios, SteadyStateMakesNoHostCall) {
    for (int32_t frames : {64, 256, 1024}) {
        for (Tone tone : kTones) {
            BenchHost host(Library("sumtone"), kBlockFrames, kSampleRate);
            StartTone(host, tone);
            for (int32_t i = 0; i < 3 * kBlockFrames / frames; ++i) host.Next(frames);
            EXPECT_EQ(host.HostCalls(), 0u) << "tone " << int(tone) << ", calls of " << frames;
        }
        for (Envelope scene : kScenes) {
            BenchHost host(Library("ramplet"), kBlockFrames, kSampleRate);
            StartEnvelope(host, scene);
            for (int32_t i = 0; i < 3 * kBlockFrames / frames; ++i) host.Next(frames);
            EXPECT_EQ(host.HostCalls(), 0u) << "envelope " << int(scene) << ", calls of " << frames;
        }
    }
}

}  // namespace
