#include "c_host_loop.h"
#include "test_support.h"

TEST(PlainCHost, DrivesAnInstanceThroughTheRecordAlone) {
    const auto& probe = LoadPlugin("probe");
    ProbeLog* log = nullptr;
    {
        vxhost::TestHost peek(probe);  // only to find the probe's log
        ASSERT_TRUE(peek.Create());
        peek.Dispatch(OP_HOST_MESSAGE, 0, PROBE_GET_LOG, &log);
    }
    log->count = 0;
    CHostResult result;
    ASSERT_EQ(c_host_run(probe.GetModuleProperties(), probe.MakeModule(), &result), 0);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(result.output[i], 999.0f + i + 1.0f) << i;
    EXPECT_EQ(result.close_answer, 1);
    EXPECT_GT(result.host_calls, 0);
    EXPECT_EQ(result.foreign_records, 0);
    int processed = 0, notified = 0;
    for (int32_t i = 0; i < log->count && i < PROBE_LOG_CAPACITY; ++i) {
        if (log->entries[i].kind == LOG_PROCESS) ++processed;
        if (log->entries[i].kind == LOG_PIN_STATUS && log->entries[i].b == ST_RUN) ++notified;
    }
    EXPECT_EQ(processed, 2000);
    EXPECT_EQ(notified, 1);
}
