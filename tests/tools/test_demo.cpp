// The demo needs no argument, writes sound and a picture, and the patch and
// song it leaves behind render the same sound again.
#include <cmath>
#include <fstream>
#include <sstream>

#include "tool_support.h"

namespace {

bool RealPluginsBuilt() {
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(std::string(VX_PLUGIN_DIR) + "/" + name + ".so").good()) return false;
    return true;
}

}  // namespace

TEST_F(ToolTest, DemoWritesSoundAPictureAndAPatchThatRendersTheSameSound) {
    if (!RealPluginsBuilt()) GTEST_SKIP() << "the demo needs the ramplet and sumtone plug-ins";
    const CommandResult demo = Vxhost("demo");
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.out.find("wrote demo-out/demo.wav"), std::string::npos) << demo.out;
    EXPECT_NE(demo.out.find("wrote demo-out/demo.svg"), std::string::npos) << demo.out;

    const Wav wav = ReadWav(Scratch("demo-out/demo.wav"));
    ASSERT_EQ(wav.channels, 1);
    ASSERT_GT(wav.samples.size(), 44100u * 4);
    double energy = 0.0;
    float peak = 0.0f;
    for (float s : wav.samples) {
        energy += static_cast<double>(s) * s;
        peak = std::max(peak, std::fabs(s));
    }
    EXPECT_GT(energy / static_cast<double>(wav.samples.size()), 1e-3) << "the demo holds sound";
    EXPECT_LT(peak, 1.0f) << "and does not clip";

    std::ifstream picture(Scratch("demo-out/demo.svg"));
    std::stringstream svg;
    svg << picture.rdbuf();
    EXPECT_EQ(svg.str().rfind("<svg ", 0), 0u);
    EXPECT_NE(svg.str().find("voice band limit 4000 Hz"), std::string::npos);
    EXPECT_NE(svg.str().find("</svg>"), std::string::npos);

    // A polyphonic phrase: chords of several notes on sixteen voices.
    EXPECT_NE(demo.out.find("played 30 notes on 16 voices, 0 stolen"), std::string::npos) << demo.out;
#if VX_TOOL_READS_MIDI
    const CommandResult again = Vxhost("render demo-out/demo-patch.json --midi demo-out/demo.mid -o again.wav");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadWav(Scratch("again.wav")).samples, wav.samples);
#endif

    EXPECT_EQ(Vxhost("demo -o elsewhere/deeper").status, 0);
    EXPECT_TRUE(Exists("elsewhere/deeper/demo.wav"));
}
