// Broken framework invariants end the process through the platform's
// assertion facility, with fixed expression texts, source paths and lines.
#include <cstdlib>
#include "test_support.h"

namespace {

// The facility's message: glibc's "path:line: function: Assertion `expr'
// failed." or the Windows C runtime's "Assertion failed: expr, file path,
// line N". The Windows build of GoogleTest has only simple regular
// expressions, so every special character is escaped.
std::string Literal(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("^$.*+?()[]{}|\\").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string AssertionMessage(const std::string& expression, const std::string& source, int line) {
#if defined(_WIN32)
    return "Assertion failed: " + Literal(expression) + ", file " + Literal(source) + ", line " + std::to_string(line);
#else
    return Literal(source) + ":" + std::to_string(line) + ": .*Assertion `" + Literal(expression) + "' failed";
#endif
}

const char* const kModuleBase = "../../vx_sdk2/VXModule_base";
const char* const kPin = "../../vx_sdk2/VXPin";

class AssertionTest : public ProbeTest {
protected:
    // Re-executing the program for each death test is the safe style, but a
    // user-mode emulator cannot re-execute a 32-bit program; there the test
    // launcher asks for the forking style through the environment.
    AssertionTest() {
        if (std::getenv("GTEST_DEATH_TEST_STYLE") == nullptr) GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(AssertionTest, OpcodesNotMeantForModules) {
    OpenWithLayout(LAYOUT_BASIC);
    EXPECT_DEATH(host.Dispatch(7), AssertionMessage("false", kModuleBase, 99));
    EXPECT_DEATH(host.Dispatch(10), AssertionMessage("false", kModuleBase, 119));
}

TEST_F(AssertionTest, APinDescriptionBreakingTheFlagRuleWhenTheHostAsks) {
    CreateWithLayout(LAYOUT_FLAG_RULE);
    for (int32_t index : {0, 1, 2, 3, 5}) {  // private, output, UI, no flags, none at all
        VXPinProperties p{};
        host.Dispatch(OP_GET_PIN_PROPERTIES, index, 0, &p);
    }
    VXPinProperties p{};
    EXPECT_DEATH(host.Dispatch(OP_GET_PIN_PROPERTIES, 4, 0, &p),
                 AssertionMessage("(((VXPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || "
                                  "(((VXPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
                                  "((VXPinProperties*)ptr)->direction == DR_OUT || "
                                  "( ( (VXPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0",
                                  kModuleBase, 80));
}

TEST_F(AssertionTest, PinAccessWithoutPins) {
    CreateWithLayout(LAYOUT_BASIC);
    float value = 0.0f;
    EXPECT_DEATH(Command(PROBE_GET_VALUE, 0, &value), AssertionMessage("m_pins != 0", kModuleBase, 150));
    VXEvent e{};
    e.event_type = ET_PIN_STATUS;
    EXPECT_DEATH(host.Deliver(e), AssertionMessage("m_pins != 0", kModuleBase, 150));
}

TEST_F(AssertionTest, EventsOffTheirClock) {
    OpenWithLayout(LAYOUT_BASIC);
    host.RunBlock(64);
    VXEvent e{};
    e.time_stamp = 65;
    e.event_type = 6;
    EXPECT_DEATH(host.Record()->event_function(host.Record()->object, &e),
                 AssertionMessage("e->time_stamp == SampleClock()", kModuleBase, 276));
    ProbeArgs past{63, 0, ET_DATA, 0};
    EXPECT_DEATH(Command(PROBE_ADD_EVENT, 0, &past),
                 AssertionMessage("p_time_stamp >= SampleClock()", kModuleBase, 340));
}

TEST_F(AssertionTest, PinContractBreaches) {
    OpenWithLayout(LAYOUT_BASIC);
    host.RunBlock(64);
    ProbeArgs past{63, 1, 5, 0};
    EXPECT_DEATH(Command(PROBE_TRANSMIT_VALUE, 0, &past),
                 AssertionMessage("sampleclock >= m_module->SampleClock()", kPin, 77));
    float value = 0.0f;
    EXPECT_DEATH(Command(PROBE_GET_VALUE, 2, &value), AssertionMessage("m_datatype == DT_FSAMPLE", kPin, 125));
}

}  // namespace
