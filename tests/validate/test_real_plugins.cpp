// The two real plug-ins through every check at a level quick enough for
// every target; CI runs `vxhost validate` on them at the highest level.
#include "validate_support.h"

namespace {

class RealPlugin : public ::testing::TestWithParam<const char*> {};

TEST_P(RealPlugin, PassesEveryCheck) {
    const std::string plugin = GetParam();
    const vxhost::ValidationReport report = RunChecks(plugin, {}, 3, 11);
    EXPECT_GE(report.checks.size(), 18u);
    for (const vxhost::CheckResult& c : report.checks) {
        EXPECT_EQ(c.status, vxhost::CheckStatus::Pass) << plugin << " " << c.name << Reasons(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Validator, RealPlugin, ::testing::Values("ramplet", "sumtone"));

}  // namespace
