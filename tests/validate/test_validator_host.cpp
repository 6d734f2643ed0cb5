// The validator's host itself: it must not see faults that are not there
// (sleeping, waking, the clock's wrap, calls of no samples) and must play
// the same input however it cuts the blocks, or the checks built on it
// would judge the plug-in for the host's mistakes.
#include <algorithm>

#include "ValidatorChecks.h"
#include "validate_support.h"

using namespace vxhost;

namespace {

// "in" at 0.5 with the gate open, then the gate closing at `close`.
Scenario GlideScenario(uint64_t length, uint64_t close) {
    Scenario scenario;
    scenario.length = length;
    InputTrack in;
    in.pin = 0;
    in.segments.push_back({0, SegmentKind::Held, 0.5f, 0.0f, false});
    InputTrack gate;
    gate.pin = 1;
    gate.segments.push_back({0, SegmentKind::Held, 1.0f, 0.0f, false});
    gate.segments.push_back({close, SegmentKind::Held, 0.0f, 0.0f, true});
    scenario.tracks = {in, gate};
    return scenario;
}

TEST(ValidatorHost, AnInstanceAskingToSleepIsNoLongerCalledAndShowsItsLastSampleUntilANotification) {
    CheckLog log;
    HostOptions options;
    options.block_size = 64;
    ValidatorHost host(Plugin("faulty_none"), log, options);
    ASSERT_TRUE(host.Open());
    // The glide reaches 0.5 after 32 samples and asks to sleep a block later.
    host.Play(GlideScenario(64 * 40, 64 * 20), CutPolicy());
    EXPECT_FALSE(log.Failed()) << log.Reasons().front();
    const std::vector<float>& out = host.Output(2);
    EXPECT_EQ(out[64 * 10], 0.5f);
    EXPECT_EQ(out[64 * 20 - 1], 0.5f);
    EXPECT_EQ(out[64 * 20], 0.5f - 1.0f / 64.0f);  // woken by the gate, gliding down
    EXPECT_EQ(out.back(), 0.0f);
    ASSERT_GE(host.SleepRequests().size(), 2u);
    EXPECT_LT(host.ProcessCalls(), 40u);  // asleep for most of the blocks
}

TEST(ValidatorHost, StampsAcrossTheClocksWrapAreNotInThePast) {
    CheckLog log;
    HostOptions options;
    options.block_size = 64;
    options.clock_origin = 0xFFFFFFFFu - 64 * 20;
    ValidatorHost host(Plugin("faulty_none"), log, options);
    ASSERT_TRUE(host.Open());
    CutPolicy cuts;
    cuts.mode = CutMode::Random;
    host.Play(GlideScenario(64 * 40, 64 * 20 + 7), cuts);
    EXPECT_FALSE(log.Failed()) << log.Reasons().front();
    bool after_wrap = false;
    for (const Announcement& a : host.Announcements()) after_wrap = after_wrap || a.at == 64 * 20 + 7;
    EXPECT_TRUE(after_wrap);
}

TEST(ValidatorHost, CallsOfNoSamplesAnywhereInTheBlockAreNoFault) {
    CheckLog log;
    HostOptions options;
    options.block_size = 16;
    options.honour_sleep = false;
    ValidatorHost host(Plugin("faulty_none"), log, options);
    ASSERT_TRUE(host.Open());
    CutPolicy cuts;
    cuts.mode = CutMode::RandomWithEmpty;
    cuts.longest_call = 3;
    host.Play(GlideScenario(16 * 50, 16 * 25), cuts);
    EXPECT_FALSE(log.Failed()) << log.Reasons().front();
    EXPECT_GT(host.ProcessCalls(), 50u * 16u / 3u);
}

TEST(ValidatorHost, TheSameScenarioIsTheSameInputHoweverTheBlocksAreCut) {
    // The instance's output follows its input with a lag, so equal outputs
    // mean equal inputs, streams included.
    CheckLog log;
    std::vector<PinDescription> pins = ReadPins(Plugin("faulty_none"), log);
    ValidatorRandom random(5);
    ScenarioShape shape;
    shape.length = 6000;
    shape.stream_chance = 0.5;
    shape.max_changes_per_pin = 6;
    const Scenario scenario = MakeScenario(pins, shape, random);
    HostOptions big, small;
    big.block_size = 6000;
    small.block_size = 7;
    big.honour_sleep = small.honour_sleep = false;
    ValidatorHost one(Plugin("faulty_none"), log, big);
    ValidatorHost many(Plugin("faulty_none"), log, small);
    ASSERT_TRUE(one.Open() && many.Open());
    CutPolicy cuts;
    cuts.mode = CutMode::Random;
    one.Play(scenario, CutPolicy());
    many.Play(scenario, cuts);
    EXPECT_TRUE(RequireSameOutput(one, many, log, "")) << log.Reasons().front();
}

TEST(ValidatorSignals, ChangesKeepTheirDistanceAndOnlyTheChosenPinMoves) {
    CheckLog log;
    const std::vector<PinDescription> pins = ReadPins(Plugin("ramplet"), log);
    ValidatorRandom random(9);
    ScenarioShape shape;
    shape.length = 100000;
    shape.max_changes_per_pin = 20;
    shape.min_gap = 1000;
    shape.only_pin = 3;
    for (int round = 0; round < 20; ++round) {
        const Scenario scenario = MakeScenario(pins, shape, random);
        for (const InputTrack& track : scenario.tracks) {
            ASSERT_FALSE(track.segments.empty());
            EXPECT_EQ(track.segments[0].start, 0u);
            EXPECT_FALSE(track.segments[0].notify);
            if (track.pin != 3) {
                EXPECT_EQ(track.segments.size(), 1u);
            }
            for (size_t i = 1; i < track.segments.size(); ++i) {
                EXPECT_GE(track.segments[i].start, track.segments[i - 1].start + shape.min_gap);
                EXPECT_LT(track.segments[i].start, shape.length);
                EXPECT_TRUE(track.segments[i].notify);
            }
        }
    }
}

// A streaming gate must sometimes open at its notification and sometimes
// later, at a sample no notification marks, and close before the next
// segment, so that a module that sleeps while its gate streams misses an
// opening or a closing within the run.
TEST(ValidatorSignals, StreamingGatesOpenAtOrAfterTheirNotificationAndCloseBeforeTheNext) {
    CheckLog log;
    const std::vector<PinDescription> pins = ReadPins(Plugin("sumtone"), log);
    ValidatorRandom random(11);
    ScenarioShape shape;
    shape.length = 64 * 120;
    shape.min_gap = 64 * 8;
    int at_notification = 0, later = 0;
    for (int round = 0; round < 40; ++round) {
        const Scenario scenario = MakeStreamingScenario(pins, shape, random);
        for (const InputTrack& track : scenario.tracks) {
            for (size_t i = 0; i < track.segments.size(); ++i) {
                const InputSegment& s = track.segments[i];
                if (s.kind != SegmentKind::GatedNoise) continue;
                const uint64_t end = i + 1 < track.segments.size() ? track.segments[i + 1].start : scenario.length;
                EXPECT_TRUE(s.notify);
                EXPECT_GE(s.opens, s.start);
                EXPECT_LT(s.opens, s.closes);
                EXPECT_LT(s.closes, end);
                EXPECT_EQ(0.0f, scenario.Sample(track, s, s.closes));
                EXPECT_NE(0.0f, scenario.Sample(track, s, s.opens));
                if (s.opens > s.start) EXPECT_EQ(0.0f, scenario.Sample(track, s, s.opens - 1));
                (s.opens == s.start ? at_notification : later) += 1;
            }
        }
    }
    EXPECT_GT(at_notification, 10);
    EXPECT_GT(later, 10);
}

}  // namespace
