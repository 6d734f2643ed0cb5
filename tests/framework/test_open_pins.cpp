// Pin creation at open: host count against declarations, UI-only and shared
// pins, auto-duplication, and binding to variables or own storage.
#include "test_support.h"

namespace {

std::vector<int32_t> QueriedIndexes(const std::vector<ProbeLogEntry>& entries) {
    std::vector<int32_t> out;
    for (const auto& e : entries) out.push_back(e.a);
    return out;
}

TEST_F(ProbeTest, OpenAsksTheCountThenQueriesEveryDeclarationAndRepeatsTheLast) {
    OpenWithLayout(LAYOUT_BASIC);
    ASSERT_FALSE(host.Calls().empty());
    EXPECT_EQ(host.Calls()[0].opcode, HC_PROCESS_CHANGED);  // the module installs its routine first
    EXPECT_EQ(host.CallsWith(HC_PIN_COUNT).size(), 1u);
    // Host count 6 = declarations: 0..5 bound, 6 answers false, then 5 again.
    std::vector<ProbeLogEntry> open_queries;
    bool after_open = false;
    for (int32_t i = 0; i < log->count; ++i) {
        if (log->entries[i].kind == LOG_OPEN)
            after_open = true;
        else if (after_open && log->entries[i].kind == LOG_PIN_QUERY)
            open_queries.push_back(log->entries[i]);
    }
    const std::vector<int32_t> expected_prefix = {0, 1, 2, 3, 4, 5, 6, 5};
    ASSERT_GE(open_queries.size(), expected_prefix.size());
    open_queries.resize(expected_prefix.size());
    EXPECT_EQ(QueriedIndexes(open_queries), expected_prefix);
}

TEST_F(ProbeTest, SurplusDeclarationsAreIgnoredButStillAskedFor) {
    CreateWithLayout(LAYOUT_THREE);
    host.SetPinCount(2);
    host.Open();
    std::vector<ProbeLogEntry> queries;
    bool after_open = false;
    for (int32_t i = 0; i < log->count; ++i) {
        if (log->entries[i].kind == LOG_OPEN)
            after_open = true;
        else if (after_open && log->entries[i].kind == LOG_PIN_QUERY)
            queries.push_back(log->entries[i]);
    }
    queries.resize(4);
    EXPECT_EQ(QueriedIndexes(queries), (std::vector<int32_t>{0, 1, 2, 1}));
    EXPECT_EQ(Pin(0).pin_index, 0);
    EXPECT_EQ(Pin(1).pin_index, 1);
}

TEST_F(ProbeTest, AutoDuplicationFillsEveryFurtherHostPinWithOwnStorage) {
    CreateWithLayout(LAYOUT_AUTODUPLICATE);
    host.SetPinCount(4);
    host.Open();
    const ProbePinInfo a = Pin(0), b = Pin(1), c = Pin(2), d = Pin(3);
    EXPECT_EQ(a.datatype, DT_FSAMPLE);
    EXPECT_EQ(b.datatype, DT_FSAMPLE);
    EXPECT_EQ(c.datatype, DT_FSAMPLE);
    EXPECT_EQ(d.datatype, DT_FSAMPLE);
    EXPECT_EQ(c.pin_index, 2);
    EXPECT_EQ(d.pin_index, 3);
    // A and B point at the module's members; C and D at their own slots, which
    // hold the buffer address the host gave for that pin number.
    EXPECT_NE(c.value_ptr, d.value_ptr);
    EXPECT_EQ(*static_cast<float**>(c.value_ptr), host.Buffer(2).data());
    EXPECT_EQ(*static_cast<float**>(d.value_ptr), host.Buffer(3).data());
    const auto buffer_asks = host.CallsWith(HC_PIN_BUFFER);
    ASSERT_EQ(buffer_asks.size(), 2u) << "pins with a variable never ask for a buffer";
    EXPECT_EQ(buffer_asks[0].index, 2);
    EXPECT_EQ(buffer_asks[1].index, 3);
}

TEST_F(ProbeTest, UiOnlyPinsTakeNoNumberButSharedOnesDo) {
    OpenWithLayout(LAYOUT_UI_ONLY_FIRST, 1);
    EXPECT_EQ(Pin(0).datatype, DT_FSAMPLE) << "A becomes pin 0";
    host.Close();

    vxhost::TestHost shared(LoadPlugin("probe"));
    ASSERT_TRUE(shared.Create());
    shared.Dispatch(OP_HOST_MESSAGE, LAYOUT_UI_SHARED_FIRST, PROBE_SET_LAYOUT);
    shared.SetPinCount(2);
    shared.Open();
    ProbePinInfo u{}, a{};
    shared.Dispatch(OP_HOST_MESSAGE, 0, PROBE_GET_PIN, &u);
    shared.Dispatch(OP_HOST_MESSAGE, 1, PROBE_GET_PIN, &a);
    EXPECT_EQ(u.datatype, DT_INT);
    EXPECT_EQ(a.datatype, DT_FSAMPLE);
}

TEST_F(ProbeTest, VariablelessPinsGetStorageByTypeAndNoneForUnknownTypes) {
    OpenWithLayout(LAYOUT_NO_VARIABLES);
    // Declarations in order: types 0..9, then -1.
    const struct {
        int32_t pin;
        bool has_storage;
    } cases[] = {{0, true}, {1, false}, {2, false}, {3, false}, {4, true},  {5, true},
                 {6, true}, {7, false}, {8, true},  {9, false}, {10, false}};
    for (const auto& c : cases) {
        const ProbePinInfo info = Pin(c.pin);
        EXPECT_EQ(info.value_ptr != nullptr, c.has_storage) << "type of pin " << c.pin;
        EXPECT_EQ(info.status, ST_STATIC);
    }
    const int32_t kZero = 0;
    EXPECT_EQ(std::memcmp(Pin(0).value_ptr, &kZero, 2), 0);
    EXPECT_EQ(std::memcmp(Pin(6).value_ptr, &kZero, 4), 0);
    EXPECT_EQ(*static_cast<float**>(Pin(5).value_ptr), host.Buffer(5).data());
    ASSERT_EQ(host.CallsWith(HC_PIN_BUFFER).size(), 1u);
    EXPECT_EQ(host.CallsWith(HC_PIN_BUFFER)[0].index, 5);
}

TEST_F(ProbeTest, NoCallbackOrNoHostPinsLeavesTheModuleWithoutPins) {
    host.UseNullCallback();
    ASSERT_TRUE(host.Create());
    host.SetPinCount(0);
    host.Open();  // nothing to observe through the host: the call must simply not fail
    host.Record()->process_function(host.Record()->object, 0, 4);

    vxhost::TestHost none(LoadPlugin("probe"));
    none.SetPinCount(-3);
    none.Open();
    EXPECT_EQ(none.CallsWith(HC_PIN_BUFFER).size(), 0u);
}

TEST_F(ProbeTest, SettingsAndBuffersReachTheModuleThroughItsVariables) {
    OpenWithLayout(LAYOUT_BASIC);
    host.Fill(0, 0.25f);
    host.BeginBlock();
    host.Process(0, host.BlockSize());
    EXPECT_EQ(host.Buffer(1)[0], 1.25f);
    EXPECT_EQ(host.Buffer(1)[host.BlockSize() - 1], 1.25f);
    host.SetSetting(4, 3.5);
    Command(PROBE_SET_ROUTINE, ROUTINE_CONSTANT);
    host.Process(10, 5);
    EXPECT_EQ(host.Buffer(1)[9], 1.25f);
    EXPECT_EQ(host.Buffer(1)[10], 3.5f);
    EXPECT_EQ(host.Buffer(1)[14], 3.5f);
    EXPECT_EQ(host.Buffer(1)[15], 1.25f);
}

}  // namespace
