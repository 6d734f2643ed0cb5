// A plain patch played period by period through its block source gives the
// offline render's samples, whatever the periods: the real-time driver and
// the render must not disagree by a sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "EngineBlockSource.h"
#include "Patch.h"
#include "PluginSearch.h"
#include "Renderer.h"
#include "TestPlugins.h"

using namespace vxhost;

namespace {

PinSetting Set(const std::string& module, const std::string& pin, const std::string& source) {
    PinSetting s;
    s.module = module;
    s.pin = pin;
    s.source = source;
    return s;
}

// An envelope opening and closing mid-block, and the oscillator it shapes:
// two output channels.
PatchDescription TwoChannelPatch() {
    PatchDescription description;
    description.sample_rate = 48000.0;
    description.block_size = 256;
    description.length_seconds = 0.2;
    ModuleEntry gate;
    gate.name = "gate";
    gate.utility = "steps";
    gate.source = "0.003:1, 0.08:0";
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
    description.settings = {Set("osc", "fc", "0.5"),       Set("osc", "fm1", "0.1"),    Set("osc", "a", "0.05"),
                            Set("osc", "maxfreq", "800"),  Set("osc", "gate", "0:1"),   Set("env", "Attack", "0.1"),
                            Set("env", "Release", "0.15"), Set("env", "Sustain", "0.6")};
    description.wires = {
        {"gate.out", "env.Gate", {}, {}}, {"osc.output", "vca.in1", {}, {}}, {"env.Signal Out", "vca.in2", {}, {}}};
    description.outputs = {{"vca.out", {}}, {"env.Signal Out", {}}};
    return description;
}

BuiltPatch Build() {
    return BuildPatch(TwoChannelPatch(), &LoadPlugin, [](const std::string&, double) { return std::vector<float>{}; });
}

}  // namespace

TEST(EngineBlockSource, PlaysTheOfflineRenderForAnyPeriods) {
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(BuiltPluginPath(name)).good()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    BuiltPatch offline = Build();
    const std::vector<std::vector<float>> expected =
        RenderToMemory(*offline.engine, offline.outputs, offline.length_frames);

    BuiltPatch live = Build();
    EngineBlockSource source(std::move(live.engine), live.outputs);
    ASSERT_EQ(source.Channels(), 2);
    EXPECT_EQ(source.MaxFrames(), 256);
    // Periods shorter than a block, a whole one, odd ones, and one longer
    // than a block (which the source must cut rather than overrun).
    const int32_t periods[] = {1, 255, 256, 100, 37, 600, 256};
    std::vector<std::vector<float>> played(2);
    std::vector<float> left(600), right(600);
    float* const out[] = {left.data(), right.data()};
    const MidiMessage ignored{0, 3, {0x90, 60, 100}};
    size_t next = 0;
    while (played[0].size() < expected[0].size()) {
        const int32_t frames = std::min<int32_t>(periods[next++ % std::size(periods)],
                                                 static_cast<int32_t>(expected[0].size() - played[0].size()));
        source.Render(frames, &ignored, 1, out);
        played[0].insert(played[0].end(), left.begin(), left.begin() + frames);
        played[1].insert(played[1].end(), right.begin(), right.begin() + frames);
    }
    EXPECT_EQ(played, expected);
    float peak = 0.0f;
    for (float s : expected[0]) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 0.01f) << "the patch makes sound";
}
