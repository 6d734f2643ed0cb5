// What a host sees first: the two exports and a fresh instance's record.
#include <cstring>

#include "test_support.h"

namespace {

TEST(ModuleProperties, IndexZeroDescribesTheModuleAndOthersOnlyTheVersion) {
    const auto& probe = LoadPlugin("probe");
    VXModuleProperties p;
    std::memset(&p, 0xAB, sizeof p);
    EXPECT_EQ(probe.GetModuleProperties()(1, &p), 0);
    EXPECT_EQ(p.sdk_version, 2190);
    const auto* untouched = reinterpret_cast<const unsigned char*>(&p);
    for (size_t i = 0; i < offsetof(VXModuleProperties, sdk_version); ++i) EXPECT_EQ(untouched[i], 0xAB);

    std::memset(&p, 0xAB, sizeof p);
    EXPECT_EQ(probe.GetModuleProperties()(0, &p), 1);
    EXPECT_STREQ(p.id, "Probe");
    EXPECT_STREQ(p.name, "Framework Probe");
    EXPECT_STREQ(p.about, "test plug-in");
    EXPECT_EQ(p.host_reserved[0], static_cast<int32_t>(0xABABABAB));
    EXPECT_EQ(p.host_reserved[1], static_cast<int32_t>(0xABABABAB));
    EXPECT_EQ(p.sdk_version, 2190);
}

TEST(MakeModule, OnlyIndexZeroProfileOneCreatesAnInstance) {
    const auto& probe = LoadPlugin("probe");
    EXPECT_EQ(probe.MakeModule()(0, 2, nullptr, nullptr), nullptr);
    EXPECT_EQ(probe.MakeModule()(1, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(probe.MakeModule()(-1, 1, nullptr, nullptr), nullptr);
}

// A C host cannot catch an exception: when the free store has no room for
// the instance, makeModule answers null, and the next call creates one.
TEST_F(ProbeTest, MakeModuleAnswersNullWhenTheInstanceCannotBeAllocated) {
    ASSERT_TRUE(host.Create());
    Command(PROBE_REFUSE_NEXT_INSTANCE);
    const auto& probe = LoadPlugin("probe");
    EXPECT_EQ(probe.MakeModule()(0, 1, nullptr, nullptr), nullptr);
    vxhost::TestHost next(probe);
    EXPECT_TRUE(next.Create());
}

TEST_F(ProbeTest, AFreshRecordHoldsItsConstantsAndDefaults) {
    ASSERT_TRUE(host.Create());
    const VXPluginRecord* r = host.Record();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r->magic);
    EXPECT_EQ(r->magic, 0x5658507B);
    EXPECT_EQ(std::memcmp(bytes, "{PXV", 4), 0);  // "VXP{" as a little-endian integer
    EXPECT_EQ(r->version, 1);
    EXPECT_EQ(r->host_data, &host);
    EXPECT_NE(r->object, nullptr);
    EXPECT_EQ(r->reserved1, 0);
    for (int32_t word : r->reserved2) EXPECT_EQ(word, 0);
    EXPECT_EQ(r->sample_rate, 44100.0f);
    EXPECT_EQ(r->block_size, 1024);
    EXPECT_NE(r->dispatcher, nullptr);
    EXPECT_NE(r->process_function, nullptr);
    EXPECT_NE(r->event_function, nullptr);
    EXPECT_TRUE(host.Calls().empty()) << "construction must not call the host";
    EXPECT_EQ(host.Dispatch(4), 0);
}

TEST_F(ProbeTest, RoutineBeforeOpenProducesNothingAndOpenInstallsTheModulesOwn) {
    ASSERT_TRUE(host.Create());
    Command(PROBE_GET_LOG, 0, &log);
    log->count = 0;
    host.Record()->process_function(host.Record()->object, 0, 8);
    EXPECT_TRUE(Logged(LOG_PROCESS).empty());

    host.Open();
    intptr_t add_one = 0;
    Command(PROBE_GET_ROUTINE_WORD, ROUTINE_ADD_ONE, &add_one);
    EXPECT_EQ(reinterpret_cast<intptr_t>(host.Record()->process_function), add_one);
    EXPECT_EQ(host.ProcessChanges(), 1);
}

TEST(TwoInstances, HaveDistinctRecordsAndEachPassesItsOwnToTheHost) {
    const auto& probe = LoadPlugin("probe");
    vxhost::TestHost first(probe), second(probe);
    first.Open();
    second.Open();
    EXPECT_NE(first.Record(), second.Record());
    EXPECT_NE(first.Record()->object, second.Record()->object);
    for (auto* host : {&first, &second}) {
        ASSERT_FALSE(host->Calls().empty());
        for (const auto& call : host->Calls()) EXPECT_EQ(call.record, host->Record());
    }
}

}  // namespace
