// The segment state machine as the output and the announcements show it.
#include <xmmintrin.h>

#include <cmath>
#include <cstring>

#include "ramplet_host.h"

namespace {

// Inputs whose exponent for the attack and release is exactly -2 (64
// samples at 256 Hz) and -5 (8 samples), about 0.1 above kAttackIn4.
constexpr float kAttackIn64 = 0x1.ddddd8p-2f;
constexpr float kAttackIn8 = 0x1.55554ap-3f;

}  // namespace

// Attack step 0.25, decay step 0.125, sustain 0.5, release step 0.25.
TEST(EnvelopeNote, WholeNoteFromIdleToIdleInOneCall) {
    Envelope env;
    env.WatchGate();
    env.Gate({0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0});
    // Offset 6: a sum equal to the peak belongs to the attack; 7: the sum
    // passes it and the decay writes the sample; 10: a difference equal to
    // the sustain belongs to the decay; 15: the release's 0.0 is the idle's.
    EXPECT_EQ(env.Call(16),
              (Samples{0, 0, 0, 0.25f, 0.5f, 0.75f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.5f, 0.25f, 0.0f}));
    EXPECT_EQ(env.Traffic(), (Lines{"ONE_OFF+0", "static", "RUN+3", "normal", "ONE_OFF+11", "static", "RUN+14",
                                    "normal", "ONE_OFF+15", "static"}));
    EXPECT_TRUE(env.StaticRoutine());
}

// At 44100 Hz, input 0.0 gives an attack of 2^-6.666666 s = 434.08 samples.
// With the sustain above its limit and a decay far shorter than a sample,
// the sample after the attack already belongs to the sustain.
TEST(EnvelopeNote, AttackAtInputZeroHandsItsLastSampleOn) {
    Inputs in;
    in.attack = 0.0f;
    in.decay = -1.0f;
    in.sustain = 1.5f;
    Envelope env(44100.0f, 512, in);
    env.WatchGate();
    env.Gate(Samples(512, 1.0f));
    const Samples out = env.Call(512);
    const float step = 1.0f / static_cast<float>(std::pow(2.0, 0.0f * 10.0f - 6.666666f) * 44100.0);
    EXPECT_EQ(1.0f / step, 1.0f / (1.0f / 434.08237f));
    float level = 0.0f;
    int32_t k = 0;
    for (; level + step <= 1.0f; ++k) ASSERT_EQ(out[k], level += step) << k;
    EXPECT_EQ(k, 434);
    for (; k < 512; ++k) ASSERT_EQ(out[k], 0.99999f) << k;
}

TEST(EnvelopeNote, SustainInputIsClampedAndScaledByTheLevel) {
    const struct {
        float sustain, level, held;
    } kCases[] = {
        {1.5f, 1.0f, 0.99999f}, {0.99999f, 2.0f, 0.99999f * 2.0f}, {-0.2f, 1.0f, 0.0f}, {0.25f, 2.0f, 0.5f},
        {0.5f, -0.5f, 0.0f},
    };
    for (const auto& c : kCases) {
        Inputs in;
        in.sustain = c.sustain;
        in.level = c.level;
        Envelope env(kExactRate, 256, in);
        env.WatchGate();
        env.Gate(Samples(64, 1.0f));
        EXPECT_EQ(env.Call(64).back(), c.held) << c.sustain << " x " << c.level;
    }
}

TEST(EnvelopeNote, GateFallingInSustainStartsTheReleaseAtThatSample) {
    Envelope env;
    env.WatchGate();
    env.Gate(Samples(256, 1.0f));
    env.Call(16);
    env.Forget();
    env.Gate({0, 0}, 100);
    const Samples out = env.Call(102);
    EXPECT_EQ(Samples(out.begin(), out.begin() + 100), Samples(100, 0.5f));
    EXPECT_EQ(out[100], 0.25f);
    EXPECT_EQ(out[101], 0.0f);
    EXPECT_EQ(env.Traffic(), (Lines{"RUN+100", "normal", "ONE_OFF+101", "static"}));
}

// A negative gate holds a note like a positive one and starts one from idle,
// but does not retrigger a release: the idle segment starts the new attack.
TEST(EnvelopeNote, NegativeGateRetriggersOnlyFromIdle) {
    Envelope env;
    env.Notify(GATE, ST_RUN);
    env.Gate({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1, -1, -1});
    EXPECT_EQ(env.Call(14), (Samples{0.25f, 0.5f, 0.75f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.25f,
                                     0.0f + 0.25f, 0.5f, 0.75f}));
}

// The setting's byte decides: any value other than 0 restarts from 0.0.
TEST(EnvelopeNote, RetriggerDuringReleaseWithAndWithoutReset) {
    const struct {
        unsigned char setting;
        float first_attack_sample;
    } kCases[] = {{0, 0.25f + 0.25f}, {1, 0.25f}, {0xFF, 0.25f}};
    for (const auto& c : kCases) {
        Envelope env;
        std::memcpy(env.host.Pins()[RESET_ON_TRIGGER].properties.variable_address, &c.setting, 1);
        env.Notify(GATE, ST_RUN);
        env.Gate({1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1});
        const Samples out = env.Call(11);
        EXPECT_EQ(out[8], 0.25f);
        EXPECT_EQ(out[9], c.first_attack_sample) << int{c.setting};
    }
}

TEST(EnvelopeNote, RestartDropsTheLevelButKeepsTheSegment) {
    Envelope env;
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(16, 1.0f));
    env.Call(16);
    env.host.Dispatch(OP_RESTART);
    EXPECT_EQ(env.Call(2), Samples(2, 0.5f)) << "the sustain reloads its level";
    env.Gate(Samples(4, 0.0f));
    env.Call(1);
    env.host.Dispatch(OP_RESTART);
    EXPECT_EQ(env.Call(2), Samples(2, 0.0f)) << "the release ends at its next sample";
}

// Whatever floating-point state the host keeps (sticky flags gathered,
// flushing, denormals-are-zero, other rounding), a note renders the bits it
// renders under the default state, and the host gets its state back. At
// 768 Hz the steps 1/24 and 1/192 are inexact, so the running sums round.
TEST(EnvelopeNote, HostFloatingPointStateChangesNoSample) {
    const auto play = [](unsigned host_mxcsr) {
        Inputs in;
        in.attack = 0x1.55554ap-3f;
        in.decay = 0x1.55554ap-3f;
        in.sustain = 0.3f;
        in.release = 0x1.ddddd8p-2f;
        Envelope env(768.0f, 32, in);
        env.WatchGate();
        Samples all;
        for (int call = 0; call < 16; ++call) {
            env.Gate(Samples(32, call < 5 ? 1.0f : 0.0f));
            _mm_setcsr(host_mxcsr);
            const Samples part = env.Call(32);
            const unsigned after = _mm_getcsr();
            _mm_setcsr(0x1F80);
            EXPECT_EQ(after, host_mxcsr) << std::hex << "MXCSR " << host_mxcsr << " came back as " << after;
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const Samples expected = play(0x1F80);
    for (unsigned host_mxcsr : {0x1FA0u, 0x1FBFu, 0xFFC0u, 0xFFE1u, 0x3F90u}) {
        const Samples out = play(host_mxcsr);
        EXPECT_EQ(std::memcmp(out.data(), expected.data(), sizeof(float) * expected.size()), 0)
            << std::hex << "MXCSR " << host_mxcsr;
    }
}

// Calls of 4 samples: the inputs are examined at calls 0, 4, 8, ...
TEST(EnvelopeTiming, ControlInputsAreExaminedEveryFourthCallAtItsFirstSample) {
    Inputs in;
    in.attack = kAttackIn64;
    Envelope env(kExactRate, 256, in);
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(256, 1.0f));
    env.Call(4);
    env.host.Fill(ATTACK, kAttackIn4);
    EXPECT_EQ(env.Calls(3, 4), (Samples{5 / 64.f, 6 / 64.f, 7 / 64.f, 8 / 64.f, 9 / 64.f, 10 / 64.f, 11 / 64.f,
                                        12 / 64.f, 13 / 64.f, 14 / 64.f, 15 / 64.f, 16 / 64.f}));
    EXPECT_EQ(env.Call(4), (Samples{0.5f, 0.75f, 1.0f, 0.875f}));
}

// A sustain that has asked to sleep must still see a change that comes
// with its notification: the input is examined at the very next call, which
// shows the new level from its first sample before the module settles and
// asks to sleep again. The every-fourth-call rhythm then starts from there.
TEST(EnvelopeTiming, NotifiedInputChangeIsExaminedAtTheNextCall) {
    Envelope env(kExactRate, 16);
    env.WatchGate();
    env.Gate(Samples(16, 1.0f));
    env.Calls(3, 16);
    env.Forget();
    env.host.Fill(SUSTAIN, 0.25f);
    env.Notify(SUSTAIN, ST_ONE_OFF);
    EXPECT_EQ(env.Call(16), Samples(16, 0.25f));
    EXPECT_EQ(env.Traffic(), (Lines{"normal", "RUN+0", "ONE_OFF+0", "static"}));
    env.Forget();
    env.host.Fill(SUSTAIN, 0.75f);
    EXPECT_EQ(env.Call(16), Samples(16, 0.25f));
    EXPECT_EQ(env.Traffic(), (Lines{"SLEEP"}));
    EXPECT_EQ(env.Calls(2, 16), Samples(32, 0.25f)) << "unannounced, it waits for the fourth call";
    EXPECT_EQ(env.Call(16), Samples(16, 0.75f));
}

TEST(EnvelopeTiming, OverallLevelZeroHoldsARunningRelease) {
    Inputs in;
    in.release = kAttackIn64;
    Envelope env(kExactRate, 256, in);
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(16, 1.0f));
    env.Call(16);
    env.Gate(Samples(256, 0.0f));
    EXPECT_EQ(env.Calls(3, 2), (Samples{0.5f - 1 / 64.f, 0.5f - 2 / 64.f, 0.5f - 3 / 64.f, 0.5f - 4 / 64.f,
                                        0.5f - 5 / 64.f, 0.5f - 6 / 64.f}));
    env.host.Fill(LEVEL, 0.0f);
    EXPECT_EQ(env.Calls(8, 2), Samples(16, 0.5f - 6 / 64.f));
}

// Only the gate's own notifications make the envelope follow it.
TEST(EnvelopeTiming, NotificationOnAnotherPinStopsFollowingTheGate) {
    Envelope env;
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(256, 1.0f));
    env.Call(2);
    env.Notify(ATTACK, ST_ONE_OFF);
    env.Gate(Samples(256, 0.0f));
    EXPECT_EQ(env.Call(10), (Samples{0.75f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}));
    env.Notify(GATE, ST_RUN);
    EXPECT_EQ(env.Call(3), (Samples{0.25f, 0.0f, 0.0f}));
}

TEST(EnvelopeTiming, ReleaseEndingMidCallSettlesTheOutputThere) {
    Envelope env;
    env.WatchGate();
    env.Gate(Samples(256, 1.0f));
    env.Call(12);
    env.Gate(Samples(256, 0.0f));
    env.Forget();
    EXPECT_EQ(env.Call(4), (Samples{0.25f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(env.Traffic(), (Lines{"RUN+0", "normal", "ONE_OFF+1", "static"}));
}

// Ten doublings over the input range, on one scale for attack and decay:
// one input value moves the full peak level in the same time in both.
TEST(EnvelopeTiming, OneTenthOfInputDoublesATime) {
    const struct {
        float attack, decay;
        Samples out;
    } kCases[] = {
        {kAttackIn4, kAttackIn4, {0.25f, 0.5f, 0.75f, 1.0f, 0.75f}},
        {kAttackIn8, kAttackIn8, {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f, 1.0f, 0.875f}},
    };
    for (const auto& c : kCases) {
        Inputs in;
        in.attack = c.attack;
        in.decay = c.decay;
        Envelope env(kExactRate, 256, in);
        env.Notify(GATE, ST_RUN);
        env.Gate(Samples(256, 1.0f));
        EXPECT_EQ(env.Call(static_cast<int32_t>(c.out.size())), c.out);
    }
}

TEST(EnvelopeTiming, SampleRateIsTakenAtOpen) {
    Envelope env;
    env.host.Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, 512.0f);
    env.Notify(GATE, ST_RUN);
    env.Gate(Samples(4, 1.0f));
    EXPECT_EQ(env.Call(4), (Samples{0.25f, 0.5f, 0.75f, 1.0f}));
}
