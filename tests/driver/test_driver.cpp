// The driver's rules, each once: the event queue's order, where calls are
// cut, the 32-bit clock and its stamps, pin numbering as the module numbers
// its pins, and which values a setting holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "EventQueue.h"
#include "PluginDescription.h"
#include "SampleClock.h"
#include "SettingValue.h"
#include "StreamAnswers.h"
#include "PluginInstance.h"
#include "TestPlugins.h"
#include "plugins/probe/ProbeProtocol.h"

namespace vxhost {
namespace {

TEST(EventQueue, OrdersByClockAndKeepsArrivalOrderWithinAClock) {
    EventQueue<int64_t, int> queue;
    queue.Push(5, 1);
    queue.Push(2, 2);
    queue.Push(5, 3);
    queue.Push(2, 4);
    queue.Push(9, 5);
    EXPECT_FALSE(queue.DueBy(1));
    EXPECT_TRUE(queue.DueBy(2));
    int order[5];
    for (int& item : order) item = queue.Pop().item;
    EXPECT_EQ(order[0], 2);
    EXPECT_EQ(order[1], 4);
    EXPECT_EQ(order[2], 1);
    EXPECT_EQ(order[3], 3);
    EXPECT_EQ(order[4], 5);
    EXPECT_TRUE(queue.Empty());
}

TEST(CallEnd, CutsAtAnEventInsideTheBlockOnly) {
    EXPECT_EQ(CallEnd(0, 64, 10), 10);
    EXPECT_EQ(CallEnd(10, 64, 11), 11) << "an event on the next sample makes a one-sample call";
    EXPECT_EQ(CallEnd(10, 64, 10), 64) << "an event at the call's first sample is delivered before it";
    EXPECT_EQ(CallEnd(10, 64, 3), 64);
    EXPECT_EQ(CallEnd(0, 64, 64), 64);
    EXPECT_EQ(CallEnd(0, 64, INT64_MAX), 64);
}

TEST(SampleClock, StampsNameTheNearestClockAcrossTheWrap) {
    EXPECT_EQ(StampDistance(10u, 4u), 6);
    EXPECT_EQ(StampDistance(4u, 10u), -6);
    EXPECT_EQ(StampDistance(5u, 0xFFFFFFFBu), 10) << "just after the wrap";
    EXPECT_EQ(StampDistance(0xFFFFFFFBu, 5u), -10) << "just before it";
    EXPECT_EQ(StampDistance(0x7FFFFFFFu, 0u), 0x7FFFFFFF);
    EXPECT_EQ(StampDistance(0x80000000u, 0u), -0x80000000ll);

    const uint32_t origin = 0xFFFFFF00u;
    EXPECT_EQ(ClockAt(origin, 0x100), 0u);
    EXPECT_EQ(UnwrapStamp(ClockAt(origin, 0x180), 0x100, origin), 0x180);
    EXPECT_EQ(UnwrapStamp(ClockAt(origin, 0xF0), 0x100, origin), 0xF0);
    EXPECT_EQ(UnwrapStamp(7u, int64_t{1} << 33), (int64_t{1} << 33) + 7) << "a 64-bit clock past several wraps";
}

TEST(StreamAnswers, BuffersOnlyForPinsTheHostGaveAndNothingForOtherOpcodes) {
    float buffers[2][4] = {};
    int asked = 0;
    const auto buffer_of = [&](int32_t pin) {
        ++asked;
        return pin == 1 ? nullptr : buffers[pin];
    };
    const StreamPosition at{0xFFFFFFF0u, 0xFFFFFF00u, 2};
    VXIntPtr answer = 0;
    ASSERT_TRUE(AnswerStreamQuery(HC_SAMPLE_CLOCK, 0, at, buffer_of, answer));
    EXPECT_EQ(static_cast<uint32_t>(answer), 0xFFFFFFF0u);
    ASSERT_TRUE(AnswerStreamQuery(HC_BUFFER_CLOCK, 0, at, buffer_of, answer));
    EXPECT_EQ(static_cast<uint32_t>(answer), 0xFFFFFF00u);
    ASSERT_TRUE(AnswerStreamQuery(HC_PIN_COUNT, 0, at, buffer_of, answer));
    EXPECT_EQ(answer, 2);
    ASSERT_TRUE(AnswerStreamQuery(HC_PIN_BUFFER, 0, at, buffer_of, answer));
    EXPECT_EQ(answer, reinterpret_cast<VXIntPtr>(buffers[0]));
    ASSERT_TRUE(AnswerStreamQuery(HC_PIN_BUFFER, 1, at, buffer_of, answer));
    EXPECT_EQ(answer, 0);
    for (const int32_t outside : {-1, 2, 1000}) {
        answer = 7;
        ASSERT_TRUE(AnswerStreamQuery(HC_PIN_BUFFER, outside, at, buffer_of, answer));
        EXPECT_EQ(answer, 0);
    }
    EXPECT_EQ(asked, 2);
    for (const int32_t other :
         {int32_t{HC_PIN_STATUS}, int32_t{HC_SLEEP}, int32_t{HC_ADD_EVENT}, int32_t{HC_PROCESS_CHANGED}, 999}) {
        answer = 7;
        EXPECT_FALSE(AnswerStreamQuery(other, 0, at, buffer_of, answer));
        EXPECT_EQ(answer, 7);
    }
}

TEST(SettingValue, WritesOnlyWhatTheMemberHolds) {
    EXPECT_TRUE(SettingValueFits(DT_ENUM, 32767.0));
    EXPECT_FALSE(SettingValueFits(DT_ENUM, 32768.0));
    EXPECT_TRUE(SettingValueFits(DT_INT, -2147483648.0));
    EXPECT_FALSE(SettingValueFits(DT_INT, 2147483648.0));
    EXPECT_FALSE(SettingValueFits(DT_FLOAT, 1e39));
    EXPECT_TRUE(SettingValueFits(DT_FLOAT, HUGE_VAL)) << "not finite: stays what it is";
    EXPECT_TRUE(SettingValueFits(DT_BOOL, 1e300));
    EXPECT_FALSE(SettingValueFits(DT_FSAMPLE, 0.0));
    EXPECT_FALSE(IsSettingDatatype(DT_FSAMPLE));

    int16_t choice = 0;
    WriteSettingValue(&choice, DT_ENUM, -3.75);
    EXPECT_EQ(choice, -3);
    bool flag = false;
    WriteSettingValue(&flag, DT_BOOL, 0.5);
    EXPECT_TRUE(flag);
}

// The probe in a host that answers nothing: only the driver's own rules act.
class Silent : public PluginInstance::Hooks {
public:
    VXIntPtr Answer(VXPluginRecord*, int32_t opcode, int32_t, int32_t, void*, float) override {
        ++calls;
        return opcode == HC_PIN_COUNT ? pin_count : 0;
    }
    int calls = 0;
    int32_t pin_count = 2;
};

TEST(PinBinding, AnAutoduplicatedLastPinStandsForEveryFurtherHostPin) {
    Silent hooks;
    PluginInstance instance(hooks);
    ASSERT_TRUE(instance.Create(TestPlugin("probe")));
    instance.Dispatch(OP_HOST_MESSAGE, LAYOUT_AUTODUPLICATE, PROBE_SET_LAYOUT);
    const auto declared = ReadPinDescriptions(instance.Record());
    ASSERT_EQ(declared.size(), 2u);
    const auto pins = ReadPinDescriptions(instance.Record(), 4);
    ASSERT_EQ(pins.size(), 4u);
    EXPECT_EQ(pins[1].declaration, 1);
    for (size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(pins[i].number, static_cast<int32_t>(i));
        EXPECT_EQ(pins[i].declaration, -1);
        EXPECT_EQ(pins[i].raw.variable_address, nullptr) << "a duplicate has no member of its own";
        EXPECT_EQ(pins[i].pin.datatype, pins[1].pin.datatype);
    }
    EXPECT_EQ(ReadPinDescriptions(instance.Record(), 1).size(), 1u) << "fewer host pins bind fewer";

    instance.Dispatch(OP_HOST_MESSAGE, LAYOUT_THREE, PROBE_SET_LAYOUT);
    EXPECT_EQ(ReadPinDescriptions(instance.Record(), 5).size(), 3u) << "without the flag nothing repeats";
}

TEST(PinBinding, PinsForTheUserInterfaceAloneTakeNoNumber) {
    Silent hooks;
    PluginInstance instance(hooks);
    ASSERT_TRUE(instance.Create(TestPlugin("probe")));
    instance.Dispatch(OP_HOST_MESSAGE, LAYOUT_UI_ONLY_FIRST, PROBE_SET_LAYOUT);
    const auto pins = ReadPinDescriptions(instance.Record());
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0].declaration, 1);
    instance.Dispatch(OP_HOST_MESSAGE, LAYOUT_UI_SHARED_FIRST, PROBE_SET_LAYOUT);
    EXPECT_EQ(ReadPinDescriptions(instance.Record()).size(), 2u);
}

TEST(PluginInstance, ForgetsTheRecordOnCloseAndIgnoresLaterCalls) {
    Silent hooks;
    PluginInstance instance(hooks);
    ASSERT_TRUE(instance.Create(TestPlugin("probe")));
    instance.Open(48000.0f, 64);
    instance.Process(0, 64);
    instance.Close();
    EXPECT_EQ(instance.Record(), nullptr);
    EXPECT_EQ(instance.Dispatch(OP_OPEN), 0);
    instance.Process(0, 64);
    instance.NotifyPin(0, ST_RUN, 0);
}

}  // namespace
}  // namespace vxhost
