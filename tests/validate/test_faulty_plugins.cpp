// Each deliberately faulty plug-in fails the check meant to catch it, for
// the reason it should; the same module without a fault passes them all.
#include "ValidatorAllocations.h"
#include "ValidatorIsolation.h"
#include "validate_support.h"

using vxhost::CheckStatus;

namespace {

struct Caught {
    const char* plugin;
    const char* check;
    const char* reason;  // words the report must contain
};

class FaultyPlugin : public ::testing::TestWithParam<Caught> {};

TEST_P(FaultyPlugin, FailsTheCheckMeantForIt) {
    const Caught& c = GetParam();
    const vxhost::CheckResult result = RunCheck(c.plugin, c.check, 5);
    EXPECT_EQ(result.status, CheckStatus::Fail) << c.plugin << " passed " << c.check << Reasons(result);
    EXPECT_TRUE(Mentions(result, c.reason)) << "expected \"" << c.reason << "\" in" << Reasons(result);
}

INSTANTIATE_TEST_SUITE_P(
    Validator, FaultyPlugin,
    ::testing::Values(Caught{"faulty_nan", "finite-output", "is nan at sample"},
                      Caught{"faulty_offset", "buffer-window", "outside its window"},
                      Caught{"faulty_offset", "buffer-window", "unwritten"},
                      Caught{"faulty_stamp", "announcement-stamps", "before the current sample"},
                      Caught{"faulty_insomniac", "sleep-protocol", "did not ask to sleep"},
                      Caught{"faulty_early_settle", "sleep-protocol", "announced 'out' as settled"},
                      Caught{"faulty_shared", "many-instances", "runs among the others rather than alone"},
                      Caught{"faulty_shared", "determinism", "differs at sample"},
                      Caught{"faulty_writes_input", "buffer-window", "wrote into the buffer of input 'in'"},
                      Caught{"faulty_silent_switch", "sleep-protocol", "without telling the host"}),
    [](const ::testing::TestParamInfo<Caught>& info) {
        std::string name = std::string(info.param.plugin) + "_" + info.param.check;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name + "_" + std::to_string(info.index);
    });

TEST(Validator, ASettledModuleThatNeverSleepsIsWarnedBelowLevelFiveAndFailedFromIt) {
    const vxhost::CheckResult low = RunCheck("faulty_insomniac", "sleep-protocol", 4);
    EXPECT_EQ(low.status, CheckStatus::Warn) << Reasons(low);
    const vxhost::CheckResult high = RunCheck("faulty_insomniac", "sleep-protocol", 5);
    EXPECT_EQ(high.status, CheckStatus::Fail) << Reasons(high);
}

// It passes with stepped inputs alone; only streams show that it settles and
// sleeps while its gate may still close without a word. Each sleep check
// catches it at the level where it starts.
TEST(Validator, AModuleThatSleepsWhileItsInputsStreamFailsBothSleepChecksWhereTheyStart) {
    const vxhost::CheckResult protocol = RunCheck("faulty_sleeps_streaming", "sleep-protocol", 1);
    EXPECT_EQ(protocol.status, CheckStatus::Fail) << Reasons(protocol);
    EXPECT_TRUE(Mentions(protocol, "found with streaming inputs")) << Reasons(protocol);
    const vxhost::CheckResult waking = RunCheck("faulty_sleeps_streaming", "wake-continuation", 2);
    EXPECT_EQ(waking.status, CheckStatus::Fail) << Reasons(waking);
    EXPECT_TRUE(Mentions(waking, "compared with a host that never stops calling it")) << Reasons(waking);
    EXPECT_TRUE(Mentions(waking, "found with streaming inputs")) << Reasons(waking);
    const std::vector<std::string> others = {"finite-output", "buffer-window", "announcement-stamps", "determinism",
                                             "block-split"};
    for (const vxhost::CheckResult& c : RunChecks("faulty_sleeps_streaming", others, 5).checks)
        EXPECT_EQ(c.status, CheckStatus::Pass) << c.name << Reasons(c);
}

TEST(Validator, AnAllocationWhileProcessingFailsTheRealtimeCheck) {
    if (!vxhost::CountAllocationsOf(Plugin("faulty_alloc"))) GTEST_SKIP() << "no allocation counting on this platform";
    const vxhost::CheckResult result = RunCheck("faulty_alloc", "realtime-safety", 9);
    EXPECT_EQ(result.status, CheckStatus::Fail) << Reasons(result);
    EXPECT_TRUE(Mentions(result, "in the processing call at sample 0")) << Reasons(result);
    EXPECT_EQ(RunCheck("faulty_none", "realtime-safety", 9).status, CheckStatus::Pass);
}

TEST(Validator, ACrashOnNegativeInputIsAFailOfTheAbuseCheckNotACrashOfTheValidator) {
    if (!vxhost::IsolationAvailable()) GTEST_SKIP() << "checks run in the validator's own process here";
    const vxhost::CheckResult result = RunCheck("faulty_crash", "input-abuse", 3);
    EXPECT_EQ(result.status, CheckStatus::Fail);
    EXPECT_TRUE(Mentions(result, "crashed") || Mentions(result, "ended the process")) << Reasons(result);
    EXPECT_TRUE(Mentions(result, "during: input 'in' driven with")) << Reasons(result);
}

TEST(Validator, AHangIsAFailAfterTheTimeLimit) {
    if (!vxhost::IsolationAvailable()) GTEST_SKIP() << "checks run in the validator's own process here";
    const vxhost::CheckResult result = RunCheck("faulty_hang", "input-abuse", 3, 7, 5.0);
    EXPECT_EQ(result.status, CheckStatus::Fail);
    EXPECT_TRUE(Mentions(result, "did not finish within 5 s")) << Reasons(result);
    EXPECT_TRUE(Mentions(result, "driven with inf")) << Reasons(result);
    EXPECT_LT(result.seconds, 30.0);
}

TEST(Validator, TheModuleWithoutAFaultPassesEveryCheck) {
    const vxhost::ValidationReport report = RunChecks("faulty_none", {}, 5);
    for (const vxhost::CheckResult& c : report.checks) EXPECT_EQ(c.status, CheckStatus::Pass) << c.name << Reasons(c);
    EXPECT_TRUE(report.Passed());
}

}  // namespace
