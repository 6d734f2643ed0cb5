// The validator as a tool: runs replay from their seed, reports stay short
// when a fault repeats, and mistakes in the request are errors.
#include "HostError.h"
#include "ValidatorReport.h"
#include "validate_support.h"

namespace {

TEST(Validator, TheSameSeedReplaysTheSameFindings) {
    const vxhost::CheckResult first = RunCheck("faulty_early_settle", "sleep-protocol", 5, 42);
    const vxhost::CheckResult again = RunCheck("faulty_early_settle", "sleep-protocol", 5, 42);
    EXPECT_EQ(first.reasons, again.reasons);
    const vxhost::CheckResult other = RunCheck("faulty_early_settle", "sleep-protocol", 5, 43);
    EXPECT_NE(first.reasons, other.reasons);
}

TEST(Validator, AnUnknownCheckNameIsAnError) {
    EXPECT_THROW(RunChecks("faulty_none", {"no-such-check"}, 5), vxhost::HostError);
}

TEST(CheckLog, AFaultOnEverySampleGivesAShortReportWithACount) {
    vxhost::CheckLog log;
    for (int i = 0; i < 1000; ++i) log.Fail("nan", "sample " + std::to_string(i) + " is nan");
    log.Fail("another fault\nover two lines");
    const std::vector<std::string> reasons = log.Reasons();
    ASSERT_EQ(reasons.size(), 4u);
    EXPECT_EQ(reasons[0], "sample 0 is nan");
    EXPECT_EQ(reasons[1], "sample 1 is nan");
    EXPECT_EQ(reasons[2], "another fault over two lines");
    EXPECT_EQ(reasons[3], "... and 998 more like these");
}

TEST(CheckLog, AFailureOutweighsWarningsAndSkips) {
    vxhost::CheckLog log;
    log.Warn("a weakness");
    EXPECT_EQ(log.Status(), vxhost::CheckStatus::Warn);
    log.Fail("a fault");
    log.Skip("not here");
    EXPECT_EQ(log.Status(), vxhost::CheckStatus::Fail);
}

}  // namespace
