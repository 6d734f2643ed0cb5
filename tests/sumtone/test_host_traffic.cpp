// What the host sees: properties, the pin table, and the gate-driven
// announcements, routine changes and sleep requests, call by call.
#include <cstring>

#include "sumtone_host.h"

namespace {

std::vector<int32_t> Opcodes(const vxhost::TestHost& host) {
    std::vector<int32_t> out;
    for (const vxhost::HostCall& call : host.Calls()) out.push_back(call.opcode);
    return out;
}

// Streaming: a notification has found the gate open. The gate itself holds
// its value (ST_ONE_OFF), so a later 0 on it settles the output.
void StartStreaming(Sumtone& s) {
    s.Set(Inputs{});
    s.host.SendPinStatus(GATE, ST_ONE_OFF);
    s.host.ClearCalls();
}

}  // namespace

TEST(SumtoneProperties, IdentifiesTheModuleAtIndexZeroOnly) {
    VXModuleProperties p{};
    EXPECT_EQ(1, SumtoneLibrary().GetModuleProperties()(0, &p));
    EXPECT_STREQ("Sumtone", p.id);
    EXPECT_STREQ("Varnix Sumtone Module", p.name);
    EXPECT_STREQ("by Brannoc", p.about);
    EXPECT_EQ(2190, p.sdk_version);
    VXModuleProperties other{};
    EXPECT_EQ(0, SumtoneLibrary().GetModuleProperties()(1, &other));
    EXPECT_EQ(nullptr, other.id);
}

TEST(SumtonePins, NinePinsAndOnlyTheFieldsTheTableGives) {
    struct Row {
        const char* name;
        int32_t direction, datatype;
        const char *default_value, *extra;  // null: not written
    };
    const Row rows[] = {
        {"fc", DR_IN, DT_FSAMPLE, "0", nullptr},         {"fm1", DR_IN, DT_FSAMPLE, "0", nullptr},
        {"N", DR_IN, DT_FSAMPLE, "0", nullptr},          {"a", DR_IN, DT_FSAMPLE, "0", nullptr},
        {"gate", DR_IN, DT_FSAMPLE, "0", nullptr},       {"detune", DR_IN, DT_FSAMPLE, "0", nullptr},
        {"maxfreq", DR_IN, DT_FSAMPLE, "0", nullptr},    {"Mode", DR_IN, DT_ENUM, "1", "1-Sided=1,2-Sided=2"},
        {"output", DR_OUT, DT_FSAMPLE, nullptr, nullptr}};
    static const char kUntouched[] = "untouched";
    Sumtone s;
    for (int32_t i = 0; i <= 10; ++i) {
        const int32_t index = i <= 9 ? i : -1;
        VXPinProperties p{nullptr, 7, 7, kUntouched, kUntouched, kUntouched, 0x5A, 0x77};
        const VXPinProperties before = p;
        const VXIntPtr answer = s.host.Dispatch(OP_GET_PIN_PROPERTIES, index, 0, &p);
        if (index < 0 || index > 8) {
            EXPECT_EQ(0, answer) << index;
            EXPECT_EQ(0, std::memcmp(&before, &p, sizeof p)) << index;
            continue;
        }
        const Row& row = rows[index];
        EXPECT_EQ(1, answer);
        EXPECT_NE(nullptr, p.variable_address);
        EXPECT_STREQ(row.name, p.name);
        EXPECT_EQ(row.direction, p.direction) << row.name;
        EXPECT_EQ(row.datatype, p.datatype) << row.name;
        EXPECT_STREQ(row.default_value ? row.default_value : kUntouched, p.default_value) << row.name;
        EXPECT_STREQ(row.extra ? row.extra : kUntouched, p.datatype_extra) << row.name;
        EXPECT_EQ(0x5A, p.flags);
        EXPECT_EQ(0x77, p.spare);
    }
}

TEST(SumtoneAnnouncements, OpenInstallsTheRoutineAndAClosedGateSettlesNothing) {
    vxhost::TestHost host(SumtoneLibrary());
    host.Open();
    EXPECT_EQ(1, host.ProcessChanges());
    EXPECT_TRUE(host.CallsWith(HC_PIN_STATUS).empty());
    const VXProcessFunction routine = host.Record()->process_function;
    host.ClearCalls();
    host.RunBlock(256);  // every input at its default: the gate is closed
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(routine, host.Record()->process_function);
    EXPECT_EQ(std::vector<float>(256, 0.0f), host.Buffer(OUTPUT));
}

TEST(SumtoneAnnouncements, ANotificationReadsTheGateAtItsOwnSample) {
    Sumtone s;
    s.Set(Inputs{});
    s.host.Fill(GATE, 0.0f);
    s.host.Buffer(GATE)[10] = 0.5f;
    // The framework checks the event's clock first; then GetValue asks for
    // the gate buffer's start and the clock. Gate 0.0 there: nothing else.
    s.host.SendPinStatus(FC, ST_RUN, 11);
    EXPECT_EQ((std::vector<int32_t>{HC_SAMPLE_CLOCK, HC_BUFFER_CLOCK, HC_SAMPLE_CLOCK}), Opcodes(s.host));
    EXPECT_EQ(GATE, s.host.Calls()[1].index);
    s.host.ClearCalls();
    s.host.SendPinStatus(MODE, ST_ONE_OFF, 10);
    EXPECT_EQ((std::vector<int32_t>{HC_SAMPLE_CLOCK, HC_BUFFER_CLOCK, HC_SAMPLE_CLOCK, HC_SAMPLE_CLOCK, HC_PIN_STATUS}),
              Opcodes(s.host));
    const vxhost::HostCall run = s.host.CallsWith(HC_PIN_STATUS).at(0);
    EXPECT_EQ(OUTPUT, run.index);
    EXPECT_EQ(ST_RUN, run.value);
    EXPECT_EQ(s.host.BlockStart() + 10, run.PtrAsClock());
    s.host.ClearCalls();  // already streaming: announced again all the same
    s.host.SendPinStatus(MODE, ST_ONE_OFF, 10);
    EXPECT_EQ(1u, s.host.CallsWith(HC_PIN_STATUS).size());
    for (float closed : {0.0f, -0.0f}) {
        s.host.Buffer(GATE)[10] = closed;
        s.host.ClearCalls();
        s.host.SendPinStatus(MODE, ST_ONE_OFF, 10);
        EXPECT_TRUE(s.host.CallsWith(HC_PIN_STATUS).empty()) << closed;
    }
    // A negative gate sounds, so it is open here too: a module that took it
    // for closed would go on asking to sleep while it plays.
    s.host.Buffer(GATE)[10] = -1.0f;
    s.host.ClearCalls();
    s.host.SendPinStatus(GATE, ST_ONE_OFF, 10);
    ASSERT_EQ(1u, s.host.CallsWith(HC_PIN_STATUS).size());
    EXPECT_EQ(ST_RUN, s.host.CallsWith(HC_PIN_STATUS).at(0).value);
}

TEST(SumtoneAnnouncements, AClosingGateSettlesOnceAndSleepFollowsABlockLater) {
    Sumtone s;
    s.host.Dispatch(OP_BLOCK_SIZE, 0, 1024);
    StartStreaming(s);
    const VXProcessFunction normal = s.host.Record()->process_function;
    s.host.Buffer(GATE)[0] = 0.0f;  // only the first gate sample counts
    s.host.RunBlock(256);
    EXPECT_EQ((std::vector<int32_t>{HC_PROCESS_CHANGED, HC_SAMPLE_CLOCK, HC_PIN_STATUS}), Opcodes(s.host));
    const vxhost::HostCall settled = s.host.CallsWith(HC_PIN_STATUS).at(0);
    EXPECT_EQ(ST_ONE_OFF, settled.value);
    EXPECT_EQ(s.host.Clock() - 256, settled.PtrAsClock());
    EXPECT_EQ(0.0f, s.host.Buffer(OUTPUT)[0]);
    EXPECT_NE(0.0f, s.host.Buffer(OUTPUT)[2]);  // later open samples still sound

    s.host.Fill(GATE, 0.0f);
    s.host.ClearCalls();
    for (int call = 1; call <= 6; ++call) {
        s.host.RunBlock(256);
        EXPECT_EQ(call >= 4 ? 1 : 0, s.host.SleepRequests()) << call;
        EXPECT_TRUE(s.host.CallsWith(HC_PIN_STATUS).empty());
        s.host.ClearCalls();
    }
    s.host.Fill(GATE, 1.0f);  // a notification wakes it up again
    s.host.SendPinStatus(GATE, ST_RUN);
    EXPECT_EQ(normal, s.host.Record()->process_function);
    EXPECT_EQ(1, s.host.ProcessChanges());
    EXPECT_EQ(ST_RUN, s.host.CallsWith(HC_PIN_STATUS).at(0).value);
}

TEST(SumtoneAnnouncements, ACallWithoutSamplesTouchesNoBuffer) {
    Sumtone s;
    StartStreaming(s);
    s.host.Fill(GATE, 0.0f);
    s.host.Fill(OUTPUT, 7.0f);
    for (int32_t frames : {0, -5}) s.host.Process(1 << 30, frames);
    EXPECT_TRUE(s.host.Calls().empty());  // not even the settle check
    EXPECT_EQ(std::vector<float>(256, 7.0f), s.host.Buffer(OUTPUT));
}

TEST(SumtoneAnnouncements, TheSleepRequestNeverStopsWhateverTheBlockSize) {
    Sumtone s;
    s.host.Dispatch(OP_BLOCK_SIZE, 0, INT32_MIN + 1);  // a countdown that must not wrap around
    StartStreaming(s);
    s.host.Fill(GATE, 0.0f);
    s.host.RunBlock(256);
    s.host.ClearCalls();
    for (int call = 0; call < 2000; ++call) s.host.RunBlock(16);
    s.host.Process(0, 0);
    EXPECT_EQ(2001, s.host.SleepRequests());
}

// A gate that streams may open at any sample with no notification, so the
// module must keep being called while it is closed: a host that honours sleep
// requests would otherwise never let it hear the note. Once the stream ends
// on a closed gate, the output settles and sleep follows as usual.
TEST(SumtoneAnnouncements, AStreamingGateKeepsTheModuleAwakeUntilTheStreamEnds) {
    for (const int32_t end_state : {ST_ONE_OFF, ST_STATIC}) {
        Sumtone s(44100.0f, 64);
        s.host.SetHonourSleep(true);
        s.Set(Inputs{});
        s.host.Fill(GATE, 0.0f);
        s.host.SendPinStatus(GATE, ST_RUN);
        ASSERT_EQ(1u, s.host.CallsWith(HC_PIN_STATUS).size());
        EXPECT_EQ(ST_RUN, s.host.CallsWith(HC_PIN_STATUS).at(0).value);
        s.host.ClearCalls();
        for (int block = 0; block < 8; ++block) {
            s.host.Fill(OUTPUT, 7.0f);
            s.host.RunBlock(64);
            // Closed is exactly silent, streaming or not.
            EXPECT_EQ(std::vector<float>(64, 0.0f), s.host.Buffer(OUTPUT)) << block;
        }
        EXPECT_TRUE(s.host.CallsWith(HC_PIN_STATUS).empty());
        EXPECT_EQ(0, s.host.SleepRequests());

        // The stream opens halfway through a call, then closes again, with
        // no notification either time.
        s.host.Fill(GATE, 0.0f);
        for (int j = 32; j < 64; ++j) s.host.Buffer(GATE)[j] = 0.5f;
        s.host.RunBlock(64);
        EXPECT_EQ(0.0f, s.host.Buffer(OUTPUT)[31]);
        EXPECT_NE(0.0f, s.host.Buffer(OUTPUT)[40]);
        s.host.Fill(GATE, 0.0f);
        for (int block = 0; block < 8; ++block) s.host.RunBlock(64);
        EXPECT_TRUE(s.host.CallsWith(HC_PIN_STATUS).empty());
        EXPECT_EQ(0, s.host.SleepRequests());
        EXPECT_FALSE(s.host.Sleeping());

        // The stream ends on a closed gate: it settles at the next call and
        // asks to sleep a block later.
        s.host.SendPinStatus(GATE, end_state);
        EXPECT_TRUE(s.host.CallsWith(HC_PIN_STATUS).empty()) << end_state;
        for (int block = 0; block < 3; ++block) s.host.RunBlock(64);
        const std::vector<vxhost::HostCall> settled = s.host.CallsWith(HC_PIN_STATUS);
        ASSERT_EQ(1u, settled.size()) << end_state;
        EXPECT_EQ(ST_ONE_OFF, settled.at(0).value);
        EXPECT_TRUE(s.host.Sleeping()) << end_state;
    }
}

// Only the gate's stream holds off the settling: with the gate held closed
// the output is silent whatever the other inputs do.
TEST(SumtoneAnnouncements, AStreamOnAnotherInputDoesNotHoldOffTheSettling) {
    Sumtone s(44100.0f, 64);
    StartStreaming(s);
    s.host.Fill(GATE, 0.0f);
    s.host.SendPinStatus(FC, ST_RUN);
    s.host.ClearCalls();
    s.host.RunBlock(64);
    ASSERT_EQ(1u, s.host.CallsWith(HC_PIN_STATUS).size());
    EXPECT_EQ(ST_ONE_OFF, s.host.CallsWith(HC_PIN_STATUS).at(0).value);
}
