// A fixed patch of the real plug-ins renders the same samples, bit for bit,
// on every target and for every block size while its control inputs hold
// still.
//
// The reference samples in data/fixed_patch.f32 (little-endian 32-bit
// floats) come from the native build; after a deliberate change of either
// plug-in's sound, rewrite them by running the native host_tests with
// VX_WRITE_REFERENCE=1 in the environment.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/StoredSamples.h"
#include "Patch.h"
#include "PluginSearch.h"
#include "Renderer.h"
#include "engine_support.h"

using namespace vxhost;

namespace {

const char* const kReference = VX_TEST_SOURCE_DIR "/host/data/fixed_patch.f32";

bool RealPluginsBuilt() {
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(BuiltPluginPath(name)).good()) return false;
    return true;
}

PinSetting Set(const std::string& module, const std::string& pin, const std::string& source) {
    PinSetting s;
    s.module = module;
    s.pin = pin;
    s.source = source;
    return s;
}

// Two notes of a two-sided series under an envelope, with the gate and the
// pitch changing at samples that fall inside blocks.
PatchDescription FixedPatch(int32_t block_size) {
    PatchDescription description;
    description.sample_rate = 44100.0;
    description.block_size = block_size;
    description.length_seconds = 0.25;
    ModuleEntry gate;
    gate.name = "gate";
    gate.utility = "steps";
    gate.source = "0.001:1, 0.1:0, 0.12:1, 0.2:0";
    ModuleEntry osc;
    osc.name = "osc";
    osc.plugin = "sumtone";
    ModuleEntry env;
    env.name = "env";
    env.plugin = "ramplet";
    ModuleEntry vca;
    vca.name = "vca";
    vca.utility = "multiply";
    description.modules = {gate, osc, env, vca};
    description.settings = {Set("osc", "fc", "0:0.5, 0.11:0.55"),
                            Set("osc", "fm1", "0.07"),
                            Set("osc", "a", "0.08"),
                            Set("osc", "N", "2"),
                            Set("osc", "maxfreq", "600"),
                            Set("osc", "Mode", "2-Sided"),
                            Set("osc", "gate", "0:1"),
                            Set("env", "Attack", "0.1"),
                            Set("env", "Decay", "0.3"),
                            Set("env", "Sustain", "0.5"),
                            Set("env", "Release", "0.2")};
    description.wires = {
        {"gate.out", "env.Gate", {}, {}}, {"osc.output", "vca.in1", {}, {}}, {"env.Signal Out", "vca.in2", {}, {}}};
    description.outputs = {{"vca.out", {}}};
    return description;
}

std::vector<float> RenderFixedPatch(int32_t block_size) {
    BuiltPatch patch = BuildPatch(FixedPatch(block_size), &LoadPlugin,
                                  [](const std::string&, double) { return std::vector<float>{}; });
    return RenderToMemory(*patch.engine, patch.outputs, patch.length_frames)[0];
}

}  // namespace

TEST(FixedPatch, RendersTheReferenceSamplesOnEveryTargetAndBlockSize) {
    if (!RealPluginsBuilt()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    const std::vector<float> samples = RenderFixedPatch(100);
    vxtest::ExpectStoredSamples(kReference, samples);
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.05f) << "the patch makes sound";

    // The controls hold still, so cutting the blocks differently changes nothing.
    for (int32_t block_size : {1, 64, 1024}) EXPECT_EQ(RenderFixedPatch(block_size), samples) << block_size;
}
