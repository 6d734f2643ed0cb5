// The two real plug-ins through every check at the highest level, on every
// target: the DLLs under Wine as well.
#include "validate_support.h"

namespace {

class RealPlugin : public ::testing::TestWithParam<const char*> {};

TEST_P(RealPlugin, PassesEveryCheck) {
    const std::string plugin = GetParam();
    const vxhost::ValidationReport report = RunChecks(plugin, {}, vxhost::kHighestLevel, 11);
    EXPECT_EQ(report.checks.size(), vxhost::AllChecks().size());
    for (const vxhost::CheckResult& c : report.checks) {
        EXPECT_EQ(c.status, vxhost::CheckStatus::Pass) << plugin << " " << c.name << Reasons(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Validator, RealPlugin, ::testing::Values("ramplet", "sumtone"));

}  // namespace
