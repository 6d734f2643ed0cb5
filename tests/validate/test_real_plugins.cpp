// The two real plug-ins through every check at a level quick enough for
// every target; CI runs `vxhost validate` on them at the highest level.
#include <set>

#include "validate_support.h"

namespace {

// Faults of the plug-ins that the validator found and that are reported to
// their owners; their checks are run but not held against the plug-in here
// until the fix lands.
const std::set<std::string> kReportedFaults = {
    "ramplet/sleep-protocol",     // a stepped control input is announced settled before it is applied
    "ramplet/wake-continuation",  // ... and a host that honours the sleep request never applies it
    "sumtone/sleep-protocol",     // a negative gate sounds without waking the oscillator
    "sumtone/wake-continuation",
};

class RealPlugin : public ::testing::TestWithParam<const char*> {};

TEST_P(RealPlugin, PassesEveryCheck) {
    const std::string plugin = GetParam();
    const vxhost::ValidationReport report = RunChecks(plugin, {}, 3, 11);
    EXPECT_GE(report.checks.size(), 18u);
    for (const vxhost::CheckResult& c : report.checks) {
        if (kReportedFaults.count(plugin + "/" + c.name) != 0) continue;
        EXPECT_EQ(c.status, vxhost::CheckStatus::Pass) << plugin << " " << c.name << Reasons(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Validator, RealPlugin, ::testing::Values("ramplet", "sumtone"));

}  // namespace
