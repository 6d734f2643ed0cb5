// The host's floating-point state belongs to the host: every entry point
// leaves MXCSR and the x87 control word as it found them, and the output does
// not depend on them (hosts lower the x87 precision or flush denormals).
#include <xmmintrin.h>

#include <cmath>
#include <cstdio>

#include "test_support.h"

namespace {

uint16_t X87ControlWord() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void SetX87ControlWord(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

struct FpState {
    unsigned mxcsr;
    uint16_t x87;
};
const FpState kDefault = {0x1F80, 0x037F};
// Flush-to-zero, denormals-are-zero, round up; x87 at 24-bit precision,
// round toward zero. Then the same with sticky flags the host gathered, and
// the default controls with only the inexact flag set, as most hosts run.
const FpState kHostileStates[] = {{0x1F80 | 0x8000 | 0x0040 | 0x4000, 0x0C7F},
                                  {0x1F80 | 0x8000 | 0x0040 | 0x4000 | 0x21, 0x0C7F},
                                  {0x1FA0, 0x037F}};

FpState Current() { return {_mm_getcsr(), X87ControlWord()}; }
void Apply(const FpState& s) {
    _mm_setcsr(s.mxcsr);
    SetX87ControlWord(s.x87);
}

// Runs one host call into the plug-in under `state` and checks that the
// plug-in gave the state back untouched.
template <class Call>
void UnderState(const FpState& state, Call call) {
    Apply(state);
    call();
    const FpState after = Current();
    Apply(kDefault);
    EXPECT_EQ(after.mxcsr, state.mxcsr);
    EXPECT_EQ(after.x87, state.x87);
}

bool PluginBuilt(const std::string& name) {
    if (FILE* f = std::fopen(PluginPath(name).c_str(), "rb")) {
        std::fclose(f);
        return true;
    }
    return false;
}

// A few blocks of every plug-in with inputs that move: gates that open and
// close, controls across their range, a denormal now and then.
std::vector<float> Render(const std::string& plugin, const FpState& state) {
    vxhost::TestHost host(LoadPlugin(plugin));
    UnderState(state, [&] { host.Create(); });
    host.SetPinCount(0);  // counted below, under the host's state
    int32_t pins = 0;
    for (;; ++pins) {
        VXPinProperties p{};
        VXIntPtr declared = 0;
        UnderState(state, [&] { declared = host.Dispatch(OP_GET_PIN_PROPERTIES, pins, 0, &p); });
        if (declared == 0) break;
    }
    host.SetPinCount(pins);
    UnderState(state, [&] { host.Open(48000.0f, 128); });
    std::vector<float> out;
    for (int block = 0; block < 24; ++block) {
        for (const auto& pin : host.Pins()) {
            if (pin.properties.datatype != DT_FSAMPLE || pin.properties.direction != DR_IN) continue;
            const std::string name = pin.properties.name;
            auto& buffer = host.Buffer(pin.number);
            for (size_t j = 0; j < buffer.size(); ++j) {
                const bool gate_open = (block / 6) % 2 == 0 || j < 40;
                if (name == "Gate" || name == "gate") buffer[j] = gate_open ? 1.0f : 0.0f;
                else buffer[j] = 0.013f * static_cast<float>(pin.number + 1) + 0.0007f * static_cast<float>(block) +
                                 (j == 3 ? 1e-39f : 0.0f);
            }
        }
        if (block % 6 == 0) UnderState(state, [&] { host.SendPinStatus(0, ST_ONE_OFF); });
        UnderState(state, [&] {
            host.Process(0, 50);
            host.Process(50, 78);
        });
        host.RunBlock(0);
        host.BeginBlock();
        for (const auto& pin : host.Pins()) {
            if (pin.properties.direction != DR_OUT) continue;
            const auto& buffer = host.Buffer(pin.number);
            out.insert(out.end(), buffer.begin(), buffer.end());
        }
    }
    UnderState(state, [&] { host.Close(); });
    return out;
}

class FpStateTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FpStateTest, OutputIsTheSameBitsWhateverTheHostsStateAndTheStateSurvives) {
    const std::string plugin = GetParam();
    if (!PluginBuilt(plugin)) GTEST_SKIP() << plugin << " is not built";
    const std::vector<float> reference = Render(plugin, kDefault);
    ASSERT_FALSE(reference.empty());
    for (const FpState& state : kHostileStates) {
        const std::vector<float> hostile = Render(plugin, state);
        ASSERT_EQ(reference.size(), hostile.size());
        size_t differing = 0;
        for (size_t i = 0; i < reference.size(); ++i)
            if (std::memcmp(&reference[i], &hostile[i], sizeof(float)) != 0) ++differing;
        EXPECT_EQ(differing, 0u) << "host MXCSR " << std::hex << state.mxcsr;
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, FpStateTest, ::testing::Values("probe", "ramplet", "sumtone"));

}  // namespace
