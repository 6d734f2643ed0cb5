// Events: scheduling through the host, sample-exact delivery, dispatch by
// type; the switchable processing routine.
#include "test_support.h"

namespace {

VXEvent MakeEvent(uint32_t time, int32_t type, int32_t value, int32_t value2 = 0, intptr_t ptr = 0) {
    VXEvent e{};
    e.time_stamp = time;
    e.event_type = type;
    e.int_value = value;
    e.int_value2 = value2;
    e.ptr_value = ptr;
    return e;
}

TEST_F(ProbeTest, AddEventHandsTheHostACopyStampedAsAsked) {
    OpenWithLayout(LAYOUT_BASIC);
    host.RunBlock(100);  // clock 100
    host.ClearCalls();
    ProbeArgs args{100, 3, ET_DATA, 0x0001FFFF};
    Command(PROBE_ADD_EVENT, 0, &args);
    const auto added = host.CallsWith(HC_ADD_EVENT);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].event.time_stamp, 100u);
    EXPECT_EQ(added[0].event.event_type, ET_DATA);
    EXPECT_EQ(added[0].event.int_value, 3);
    EXPECT_EQ(added[0].event.int_value2, 0x0001FFFF);
    EXPECT_EQ(added[0].event.ptr_value, 7);
    EXPECT_EQ(added[0].event.reserved, 0);
    EXPECT_EQ(host.Calls().front().opcode, HC_SAMPLE_CLOCK) << "the stamp is checked against the clock first";
}

TEST_F(ProbeTest, QueuedEventsArriveAtTheirExactSampleBetweenProcessingCalls) {
    OpenWithLayout(LAYOUT_BASIC);
    ProbeArgs data{40, 9, ET_DATA, 0x0001FFFF};
    Command(PROBE_ADD_EVENT, 0, &data);
    ProbeArgs call{40, 0, 0, 0};
    Command(PROBE_ADD_CALL_EVENT, 0, &call);
    ProbeArgs virtual_call{130, 0, 0, 1};
    Command(PROBE_ADD_CALL_EVENT, 0, &virtual_call);
    log->count = 0;
    host.RunBlock(100);
    host.RunBlock(100);

    std::vector<std::vector<int32_t>> seen;
    for (int32_t i = 0; i < log->count; ++i) {
        const auto& e = log->entries[i];
        if (e.kind == LOG_PROCESS)
            seen.push_back({e.kind, e.a, e.b});
        else if (e.kind == LOG_DATA)
            seen.push_back({e.kind, e.a, e.b, e.c});
        else if (e.kind == LOG_CALL_PLAIN || e.kind == LOG_CALL_VIRTUAL)
            seen.push_back({e.kind});
    }
    const std::vector<std::vector<int32_t>> expected = {
        {LOG_PROCESS, 0, 40}, {LOG_DATA, 40, 9, -1}, {LOG_CALL_PLAIN},     {LOG_PROCESS, 40, 60},
        {LOG_PROCESS, 0, 30}, {LOG_CALL_VIRTUAL},    {LOG_PROCESS, 30, 70}};
    EXPECT_EQ(seen, expected);
}

TEST_F(ProbeTest, CallEventsCarryAnOddWordForVirtualRoutinesAndAPlainAddressOtherwise) {
    OpenWithLayout(LAYOUT_BASIC);
    ProbeArgs plain{0, 0, 0, 0}, virt{0, 0, 0, 1};
    Command(PROBE_ADD_CALL_EVENT, 0, &plain);
    Command(PROBE_ADD_CALL_EVENT, 0, &virt);
    const auto added = host.CallsWith(HC_ADD_EVENT);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].event.event_type, ET_CALL);
    EXPECT_EQ(added[0].event.ptr_value & 1, 0);
    EXPECT_EQ(added[1].event.ptr_value & 1, 1);
    EXPECT_EQ(added[0].event.int_value, 0);
    EXPECT_EQ(added[0].event.int_value2, 0);
}

TEST_F(ProbeTest, StreamStateReachesThePinAndOneOffFallsBackToStatic) {
    OpenWithLayout(LAYOUT_BASIC);
    const struct {
        int32_t state;
        int32_t seen;
        int32_t after;
    } cases[] = {
        {ST_ONE_OFF, ST_ONE_OFF, ST_STATIC}, {ST_RUN, ST_RUN, ST_RUN}, {5, 5, 5}, {ST_STATIC, ST_STATIC, ST_STATIC}};
    for (const auto& c : cases) {
        log->count = 0;
        host.SendPinStatus(2, c.state);
        const auto notes = Logged(LOG_PIN_STATUS);
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].a, 2);
        EXPECT_EQ(notes[0].b, c.seen);
        EXPECT_EQ(Pin(2).status, c.after);
    }
}

TEST_F(ProbeTest, TypeSixUnknownTypesAndMissingPinsDoNothing) {
    OpenWithLayout(LAYOUT_BASIC);
    log->count = 0;
    for (int32_t type : {6, 1, 3, 20, 22, -1}) host.Deliver(MakeEvent(0, type, 1, 1, 1));
    host.Deliver(MakeEvent(0, ET_PIN_STATUS, ST_RUN, 0, 6));  // one past the last pin
    host.Deliver(MakeEvent(0, ET_PIN_STATUS, ST_RUN, 0, -1));
    EXPECT_EQ(log->count, 0);
}

TEST_F(ProbeTest, RoutineChangesReachTheHostOnlyWhenReal) {
    OpenWithLayout(LAYOUT_BASIC);
    host.ClearCalls();
    Command(PROBE_SET_ROUTINE, ROUTINE_ADD_ONE);  // already installed
    EXPECT_EQ(host.ProcessChanges(), 0);
    Command(PROBE_SET_ROUTINE, ROUTINE_CONSTANT);
    EXPECT_EQ(host.ProcessChanges(), 1);
    intptr_t constant = 0;
    Command(PROBE_GET_ROUTINE_WORD, ROUTINE_CONSTANT, &constant);
    EXPECT_EQ(reinterpret_cast<intptr_t>(host.Record()->process_function), constant);
    Command(PROBE_SET_ROUTINE, ROUTINE_EMPTY);
    Command(PROBE_SET_ROUTINE, ROUTINE_EMPTY);
    EXPECT_EQ(host.ProcessChanges(), 2);
}

TEST_F(ProbeTest, PinTrafficGoesOutUnderThePinsNumber) {
    OpenWithLayout(LAYOUT_BASIC);
    host.RunBlock(50);
    host.Buffer(0)[7] = 0.75f;
    host.Deliver(MakeEvent(57, 6, 0));  // move the clock to block start + 7
    host.ClearCalls();

    float value = 0.0f;
    Command(PROBE_GET_VALUE, 0, &value);
    EXPECT_EQ(value, 0.75f);
    ASSERT_EQ(host.Calls().size(), 2u);
    EXPECT_EQ(host.Calls()[0].opcode, HC_BUFFER_CLOCK);
    EXPECT_EQ(host.Calls()[0].index, 0);
    EXPECT_EQ(host.Calls()[1].opcode, HC_SAMPLE_CLOCK);

    host.ClearCalls();
    ProbeArgs status{3, 1, ST_RUN, 0};  // a stamp in the past passes unchecked
    Command(PROBE_TRANSMIT_STATUS, 0, &status);
    ProbeArgs value_now{57, 1, -12, 0};
    Command(PROBE_TRANSMIT_VALUE, 0, &value_now);
    host.SetQueryAnswer(5);
    int32_t flag = 0;
    Command(PROBE_QUERY_FLAG, 4, &flag);
    EXPECT_EQ(flag, 1);

    const auto statuses = host.CallsWith(HC_PIN_STATUS);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].index, 1);
    EXPECT_EQ(statuses[0].value, ST_RUN);
    EXPECT_EQ(statuses[0].PtrAsClock(), 3u);
    const auto values = host.CallsWith(HC_PIN_VALUE);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].index, 1);
    EXPECT_EQ(values[0].value, -12);
    EXPECT_EQ(values[0].PtrAsClock(), 57u);
    const auto queries = host.CallsWith(HC_PIN_QUERY);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].index, 4);
    EXPECT_EQ(queries[0].ptr, 0);
}

}  // namespace
