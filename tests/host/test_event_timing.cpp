// Every event reaches a module exactly at its sample: the engine cuts the
// processing calls there, across block edges, for notifications from other
// modules and for events a module schedules for itself.
#include "engine_support.h"

using namespace vxhost;

namespace {

constexpr int32_t kBlock = 64;

}  // namespace

TEST(EventTiming, StepChangesArriveAtTheirSampleAndCutTheCalls) {
    Engine engine(48000.0, kBlock);
    auto& steps = engine.Emplace<StepNode>(
        "steps", std::vector<StepPoint>{{0, 0.5f}, {10, 1.0f}, {64, 2.0f}, {100, 3.0f}, {127, 4.0f}, {130, 5.0f}});
    auto& tracer = AddTracer(engine, "t");
    Connect(engine, steps, "out", tracer, "In");

    const std::vector<float> out = RunAndCollect(engine, Pin(engine, tracer, "Out"), 3 * kBlock);

    std::vector<uint32_t> notified;
    for (const TracerEntry& e : Trace(tracer, TRACE_STATUS)) {
        EXPECT_EQ(e.a, TRACER_IN);
        EXPECT_EQ(e.b, ST_ONE_OFF);
        notified.push_back(e.clock);
    }
    EXPECT_EQ(notified, (std::vector<uint32_t>{0, 10, 64, 100, 127, 130}));
    // Calls start at every block edge and every notification, and nowhere else.
    EXPECT_EQ(CallStarts(tracer), (std::vector<uint32_t>{0, 10, 64, 100, 127, 128, 130}));
    // The calls tile the clock without gaps or overlaps.
    uint32_t next = 0;
    for (const TracerEntry& e : Trace(tracer, TRACE_PROCESS)) {
        EXPECT_EQ(e.clock, next);
        EXPECT_EQ(e.clock % kBlock, static_cast<uint32_t>(e.a));
        next = e.clock + static_cast<uint32_t>(e.b);
    }
    EXPECT_EQ(next, 3u * kBlock);
    EXPECT_EQ(out[9], 0.5f);
    EXPECT_EQ(out[10], 1.0f);
    EXPECT_EQ(out[126], 3.0f);
    EXPECT_EQ(out[127], 4.0f);
    EXPECT_EQ(out[191], 5.0f);
    EXPECT_EQ(tracer.LateEvents(), 0u);
}

TEST(EventTiming, ScheduledEventsComeBackAtTheirClockEvenBlocksLater) {
    Engine engine(48000.0, kBlock);
    auto& tracer = AddTracer(engine, "t");
    engine.Start();
    // Four events, 50 samples apart from clock 5; each delivery schedules the next.
    TracerArgs args{5, 50, 4, 0, 0};
    tracer.Dispatch(OP_HOST_MESSAGE, 0, TRACER_SCHEDULE, &args);
    for (int block = 0; block < 4; ++block) engine.Run(kBlock);

    std::vector<uint32_t> delivered;
    for (const TracerEntry& e : Trace(tracer, TRACE_DATA)) {
        EXPECT_EQ(static_cast<uint32_t>(e.a), e.clock) << "the time stamp equals the clock at delivery";
        delivered.push_back(e.clock);
    }
    EXPECT_EQ(delivered, (std::vector<uint32_t>{5, 55, 105, 155}));
    EXPECT_EQ(CallStarts(tracer), (std::vector<uint32_t>{0, 5, 55, 64, 105, 128, 155, 192}));
}

TEST(EventTiming, ValuePinsChangeAtTheirSampleBeforeTheModuleIsTold) {
    Engine engine(48000.0, kBlock);
    auto& tracer = AddTracer(engine, "t");
    const int32_t choice = tracer.FindPin("Choice");
    tracer.SetValue(tracer.FindPin("Offset"), 0.25);
    tracer.ScheduleValue(choice, 70, 2.0);
    const std::vector<float> out = RunAndCollect(engine, Pin(engine, tracer, "Out"), 2 * kBlock);

    const std::vector<TracerEntry> status = Trace(tracer, TRACE_STATUS);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].clock, 70u);
    EXPECT_EQ(status[0].a, choice);
    EXPECT_EQ(status[0].b, ST_ONE_OFF);
    EXPECT_EQ(status[0].c, 2) << "the new value is in the member when the notification comes";
    EXPECT_EQ(out[0], 0.25f) << "settings are written before the first call";
}
