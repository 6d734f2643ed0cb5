// What the host's own calling environment may be, and what the plug-ins
// must not depend on. The floating-point state belongs to the host: every
// entry point leaves MXCSR and the x87 control word as it found them, and the
// output does not depend on them (hosts lower the x87 precision or flush
// denormals). And a 32-bit Windows host keeps its stack aligned to 4 bytes
// only, where the plug-ins' vector code wants 16.
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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
const FpState kHostileStates[] = {
    {0x1F80 | 0x8000 | 0x0040 | 0x4000, 0x0C7F}, {0x1F80 | 0x8000 | 0x0040 | 0x4000 | 0x21, 0x0C7F}, {0x1FA0, 0x037F}};

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
// close, controls across their range, a denormal now and then. Every call
// into the plug-in goes through `around`(call).
template <class Around>
std::vector<float> Render(const std::string& plugin, Around around) {
    vxhost::TestHost host(LoadPlugin(plugin));
    around([&] { host.Create(); });
    host.SetPinCount(0);  // counted below, under the host's state
    int32_t pins = 0;
    for (;; ++pins) {
        VXPinProperties p{};
        VXIntPtr declared = 0;
        around([&] { declared = host.Dispatch(OP_GET_PIN_PROPERTIES, pins, 0, &p); });
        if (declared == 0) break;
    }
    host.SetPinCount(pins);
    around([&] { host.Open(48000.0f, 128); });
    std::vector<float> out;
    for (int block = 0; block < 24; ++block) {
        for (const auto& pin : host.Pins()) {
            if (pin.properties.datatype != DT_FSAMPLE || pin.properties.direction != DR_IN) continue;
            const std::string name = pin.properties.name;
            auto& buffer = host.Buffer(pin.number);
            for (size_t j = 0; j < buffer.size(); ++j) {
                const bool gate_open = (block / 6) % 2 == 0 || j < 40;
                if (name == "Gate" || name == "gate")
                    buffer[j] = gate_open ? 1.0f : 0.0f;
                else
                    buffer[j] = 0.013f * static_cast<float>(pin.number + 1) + 0.0007f * static_cast<float>(block) +
                                (j == 3 ? 1e-39f : 0.0f);
            }
        }
        if (block % 6 == 0) around([&] { host.SendPinStatus(0, ST_ONE_OFF); });
        around([&] {
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
    around([&] { host.Close(); });
    return out;
}

size_t DifferingSamples(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) ++differing;
    return differing;
}

class FpStateTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FpStateTest, OutputIsTheSameBitsWhateverTheHostsStateAndTheStateSurvives) {
    const std::string plugin = GetParam();
    if (!PluginBuilt(plugin)) GTEST_SKIP() << plugin << " is not built";
    const auto under = [](const FpState& state) { return [state](const auto& call) { UnderState(state, call); }; };
    const std::vector<float> reference = Render(plugin, under(kDefault));
    ASSERT_FALSE(reference.empty());
    for (const FpState& state : kHostileStates) {
        const std::vector<float> hostile = Render(plugin, under(state));
        EXPECT_EQ(DifferingSamples(reference, hostile), 0u) << "host MXCSR " << std::hex << state.mxcsr;
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, FpStateTest, ::testing::Values("probe", "ramplet", "sumtone"));

#if defined(_WIN32) && defined(__i386__)
// Calls fn(context) with the stack pointer `shift` bytes below a multiple of
// 16 at the call, as a host whose compiler keeps only 4-byte alignment may.
extern "C" void vx_call_on_shifted_stack(void (*fn)(void*), void* context, int32_t shift);
__asm__(
    ".text\n"
    ".globl _vx_call_on_shifted_stack\n"
    "_vx_call_on_shifted_stack:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  andl $-16, %esp\n"
    "  subl 16(%ebp), %esp\n"
    "  subl $12, %esp\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  leave\n"
    "  ret\n"
    // Stores the stack pointer the caller had at its call instruction.
    ".globl _vx_store_caller_stack\n"
    "_vx_store_caller_stack:\n"
    "  movl 4(%esp), %eax\n"
    "  leal 4(%esp), %ecx\n"
    "  movl %ecx, (%eax)\n"
    "  ret\n");
extern "C" void vx_store_caller_stack(void* out);

template <class Call>
void CallOnShiftedStack(int32_t shift, const Call& call) {
    vx_call_on_shifted_stack([](void* c) { (*static_cast<const Call*>(c))(); },
                             const_cast<void*>(static_cast<const void*>(&call)), shift);
}

class StackAlignmentTest : public ::testing::TestWithParam<const char*> {};

// A misaligned stack must cost nothing but a realignment in the plug-in:
// no crash on an aligned vector store, and the same samples.
TEST_P(StackAlignmentTest, EveryEntryPointWorksOnAStackAlignedToFourBytesOnly) {
    const std::string plugin = GetParam();
    if (!PluginBuilt(plugin)) GTEST_SKIP() << plugin << " is not built";
    const auto shifted = [](int32_t shift) { return [shift](const auto& call) { CallOnShiftedStack(shift, call); }; };
    for (int32_t shift : {0, 4, 8, 12}) {
        uintptr_t stack = 0;
        vx_call_on_shifted_stack(&vx_store_caller_stack, &stack, shift);
        ASSERT_EQ((stack + static_cast<uintptr_t>(shift)) % 16, 0u) << "shift " << shift;
    }
    const std::vector<float> reference = Render(plugin, shifted(0));
    ASSERT_FALSE(reference.empty());
    for (int32_t shift : {4, 8, 12})
        EXPECT_EQ(DifferingSamples(reference, Render(plugin, shifted(shift))), 0u) << "shift " << shift;
}

INSTANTIATE_TEST_SUITE_P(Plugins, StackAlignmentTest, ::testing::Values("probe", "ramplet", "sumtone"));
#endif

}  // namespace
