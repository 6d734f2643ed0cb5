// Dispatcher opcodes and what each reaches.
#include "test_support.h"

namespace {

TEST_F(ProbeTest, CloseRunsCloseThenTheDestructorAndAnswersOne) {
    OpenWithLayout(LAYOUT_BASIC);
    log->count = 0;
    EXPECT_EQ(host.Dispatch(OP_CLOSE), 1);
    ASSERT_EQ(log->count, 2);
    EXPECT_EQ(log->entries[0].kind, LOG_CLOSE);
    EXPECT_EQ(log->entries[1].kind, LOG_DESTROYED);
    EXPECT_EQ(host.Record(), nullptr);
}

TEST_F(ProbeTest, RestartPassesOnlyAPositiveIndexAsValue) {
    OpenWithLayout(LAYOUT_BASIC);
    const struct {
        int32_t index;
        std::vector<int32_t> expected;
    } cases[] = {{0, {LOG_RESTART}}, {5, {LOG_RESTART, LOG_RESTART_VALUE}}, {-1, {LOG_RESTART}}};
    for (const auto& c : cases) {
        log->count = 0;
        EXPECT_EQ(host.Dispatch(OP_RESTART, c.index), 0);
        std::vector<int32_t> kinds;
        for (int32_t i = 0; i < log->count; ++i) kinds.push_back(log->entries[i].kind);
        EXPECT_EQ(kinds, c.expected) << "index " << c.index;
        if (c.index == 5) {
            EXPECT_EQ(log->entries[1].a, 5);
        }
    }
}

TEST_F(ProbeTest, SampleRateAndBlockSizeLiveInTheRecord) {
    ASSERT_TRUE(host.Create());
    EXPECT_EQ(host.Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(host.Record()->sample_rate, 48000.0f);
    EXPECT_EQ(host.Dispatch(OP_BLOCK_SIZE, 0, 256), 0);
    EXPECT_EQ(host.Record()->block_size, 256);
}

TEST_F(ProbeTest, PinPropertiesComeByIndexAndAnswerZeroOrOne) {
    CreateWithLayout(LAYOUT_BASIC);
    VXPinProperties p{};
    EXPECT_EQ(host.Dispatch(OP_GET_PIN_PROPERTIES, 2, 0, &p), 1);
    EXPECT_STREQ(p.name, "Choice");
    EXPECT_STREQ(p.datatype_extra, "One=1,Two=2");
    VXPinProperties untouched{};
    untouched.spare = 77;
    EXPECT_EQ(host.Dispatch(OP_GET_PIN_PROPERTIES, 6, 0, &untouched), 0);
    EXPECT_EQ(untouched.spare, 77);
    EXPECT_EQ(untouched.name, nullptr);
}

TEST_F(ProbeTest, UnknownAndNegativeOpcodesAnswerZeroAndChangeNothing) {
    OpenWithLayout(LAYOUT_BASIC);
    const VXPluginRecord before = *host.Record();
    log->count = 0;
    host.ClearCalls();
    for (int32_t opcode : {-1, 4, 5, 9, 11, 14, 100, INT32_MIN}) EXPECT_EQ(host.Dispatch(opcode), 0);
    EXPECT_EQ(std::memcmp(&before, host.Record(), sizeof before), 0);
    EXPECT_EQ(log->count, 0);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(ProbeTest, HostMessageHandsOverValueIndexAndPointer) {
    OpenWithLayout(LAYOUT_BASIC);
    log->count = 0;
    host.Dispatch(OP_HOST_MESSAGE, 33, 999, nullptr);
    ASSERT_EQ(Logged(LOG_HOST_MESSAGE).size(), 1u);
    EXPECT_EQ(Logged(LOG_HOST_MESSAGE)[0].a, 999);
    EXPECT_EQ(Logged(LOG_HOST_MESSAGE)[0].b, 33);
}

TEST_F(ProbeTest, ProcessPointerRecordIsSharedAndNamesTheRequestersRoutine) {
    OpenWithLayout(LAYOUT_BASIC);
    vxhost::TestHost other(LoadPlugin("probe"));
    other.Open();
    Command(PROBE_SET_ROUTINE, ROUTINE_CONSTANT);

    const VXIntPtr first = host.Dispatch(OP_GET_PROCESS_POINTER);
    auto* info = reinterpret_cast<const VXProcessPointerInfo*>(first);
    EXPECT_EQ(info->format, 1);
    EXPECT_EQ(info->size, static_cast<int32_t>(2 * sizeof(void*)));
    EXPECT_EQ(info->tag, 1002);
    intptr_t words[2];
    std::memcpy(words, info->address, sizeof words);
    EXPECT_EQ(words[0], reinterpret_cast<intptr_t>(host.Record()->process_function));
    EXPECT_EQ(words[1], 0);

    EXPECT_EQ(other.Dispatch(OP_GET_PROCESS_POINTER), first);
    std::memcpy(words, info->address, sizeof words);
    EXPECT_EQ(words[0], reinterpret_cast<intptr_t>(other.Record()->process_function));
    EXPECT_NE(other.Record()->process_function, host.Record()->process_function);
}

}  // namespace
