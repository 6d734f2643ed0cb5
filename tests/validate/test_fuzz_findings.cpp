// What the fuzzers found, kept as tests on every target (their inputs are
// kept in fuzz/regressions/ as well).
#include "TestHost.h"
#include "validate_support.h"

namespace {

class FuzzFinding : public ::testing::TestWithParam<const char*> {};

// A host with more pins than the module declares leaves the extra pins
// unbound; a notification for one of them used to call a module through a
// null pointer.
TEST_P(FuzzFinding, ANotificationForAnUnboundHostPinIsDropped) {
    vxhost::TestHost host(Plugin(GetParam()));
    ASSERT_TRUE(host.Create());
    int32_t declared = 0;
    for (VXPinProperties p{}; host.Dispatch(OP_GET_PIN_PROPERTIES, declared, 0, &p) != 0; p = VXPinProperties{})
        ++declared;
    host.SetPinCount(declared + 2);
    host.Open(44100.0f, 64);
    host.SendPinStatus(declared + 1, ST_RUN, 0);
    host.SendPinStatus(declared, ST_ONE_OFF, 3);
    host.Process(3, 61);
    EXPECT_TRUE(host.CallsWith(HC_PIN_STATUS).empty());
}

INSTANTIATE_TEST_SUITE_P(Fuzzing, FuzzFinding, ::testing::Values("ramplet", "sumtone"));

}  // namespace
