// A module that asks to sleep is no longer called and its output holds the
// last value it wrote; a change of an input's stream state wakes it, and a
// streaming input keeps it awake whatever it asks.
#include "engine_support.h"

using namespace vxhost;

namespace {

constexpr int32_t kBlock = 64;

void MakeSleepy(PluginNode& tracer) { tracer.Dispatch(OP_HOST_MESSAGE, 1, TRACER_SET_SLEEPY); }

}  // namespace

TEST(SleepAndWake, SleepingModuleHoldsItsOutputUntilAnInputChanges) {
    Engine engine(48000.0, kBlock);
    auto& steps = engine.Emplace<StepNode>("steps", std::vector<StepPoint>{{0, 0.25f}, {200, 0.75f}});
    auto& tracer = AddTracer(engine, "t");
    Connect(engine, steps, "out", tracer, "In");
    engine.Start();
    MakeSleepy(tracer);

    const std::vector<float> out = RunAndCollect(engine, Pin(engine, tracer, "Out"), 5 * kBlock);

    // Called once at the start and once when woken at 200; asleep in between.
    const std::vector<TracerEntry> calls = Trace(tracer, TRACE_PROCESS);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].clock, 0u);
    EXPECT_EQ(calls[0].b, kBlock);
    EXPECT_EQ(calls[1].clock, 200u);
    EXPECT_EQ(calls[1].b, 256 - 200);
    EXPECT_TRUE(tracer.Sleeping());
    for (int i = 0; i < 200; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], 0.25f) << i;
    for (int i = 200; i < 5 * kBlock; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], 0.75f) << i;
}

TEST(SleepAndWake, StreamingInputKeepsTheModuleAwakeUntilItSettles) {
    Engine engine(48000.0, kBlock);
    std::vector<float> ramp(150);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    auto& samples = engine.Emplace<SampleNode>("samples", ramp);
    auto& tracer = AddTracer(engine, "t");
    Connect(engine, samples, "out", tracer, "In");
    engine.Start();
    MakeSleepy(tracer);

    const std::vector<float> out = RunAndCollect(engine, Pin(engine, tracer, "Out"), 5 * kBlock);

    // Called through the stream; the stream settles at 150 and the call from
    // there on is the last one.
    EXPECT_EQ(CallStarts(tracer), (std::vector<uint32_t>{0, 64, 128, 150}));
    EXPECT_TRUE(tracer.Sleeping());
    EXPECT_EQ(out[149], 149.0f);
    EXPECT_EQ(out[150], 0.0f);
    EXPECT_EQ(out[319], 0.0f);
}

TEST(SleepAndWake, ProcessingFollowsTheRoutineTheModuleReportsAsChanged) {
    Engine engine(48000.0, kBlock);
    auto& tracer = AddTracer(engine, "t");
    tracer.SetValue(tracer.FindPin("In"), 0.5);
    const PinRef out = Pin(engine, tracer, "Out");
    engine.Run(kBlock);
    EXPECT_EQ(engine.Output(out)[0], 0.5f);
    tracer.Dispatch(OP_HOST_MESSAGE, 1, TRACER_SET_ROUTINE);
    engine.Run(kBlock);
    EXPECT_EQ(engine.Output(out)[0], -1.0f);
}

TEST(Announcements, TravelAlongAChainOfInstancesAtTheirStampedSample) {
    Engine engine(48000.0, kBlock);
    auto& first = AddTracer(engine, "first");
    auto& second = AddTracer(engine, "second");
    auto& third = AddTracer(engine, "third");
    Connect(engine, first, "Out", second, "In");
    Connect(engine, second, "Out", third, "In");
    engine.Start();
    engine.Run(kBlock);
    // The first instance announces its output at offset 10 of its next call;
    // the second relays what it hears to its own output at once.
    TracerArgs announce{0, 0, 0, 10, ST_RUN};
    first.Dispatch(OP_HOST_MESSAGE, 0, TRACER_ANNOUNCE, &announce);
    engine.Run(kBlock);

    for (PluginNode* node : {&second, &third}) {
        const std::vector<TracerEntry> status = Trace(*node, TRACE_STATUS);
        ASSERT_EQ(status.size(), 1u) << node->Name();
        EXPECT_EQ(status[0].clock, 74u) << node->Name();
        EXPECT_EQ(status[0].b, ST_RUN) << node->Name();
        EXPECT_EQ(CallStarts(*node), (std::vector<uint32_t>{0, 64, 74})) << node->Name();
    }
    EXPECT_TRUE(Trace(first, TRACE_STATUS).empty()) << "each instance keeps its own state";
    EXPECT_EQ(second.InputState(TRACER_IN), ST_RUN);
    EXPECT_EQ(first.OutputState(TRACER_OUT), ST_RUN);

    // A stamp that lies before the block being processed cannot be met any
    // more; it is delivered at the first sample still to come, and counted.
    TracerArgs stale{0, 0, 0, -100, ST_ONE_OFF};
    first.Dispatch(OP_HOST_MESSAGE, 0, TRACER_ANNOUNCE, &stale);
    engine.Run(kBlock);
    const std::vector<TracerEntry> status = Trace(second, TRACE_STATUS);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[1].clock, 128u);
    EXPECT_EQ(second.LateEvents(), 1u);
}
