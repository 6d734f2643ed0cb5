// Songs from MIDI files played on a patch's voices from the command line:
// render and patch take --midi, the summary counts notes and stolen voices,
// and a bad song or note mapping is one line and exit status 1.
#include <cmath>
#include <fstream>

#include "tool_support.h"

#if VX_TOOL_READS_MIDI

namespace {

bool RealPluginsBuilt() {
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(std::string(VX_PLUGIN_DIR) + "/" + name + ".so").good()) return false;
    return true;
}

const char* const kVoicePatch = R"({
  "sample_rate": 48000,
  "block_size": 256,
  "voices": 2,
  "notes": { "gate": "env.Gate", "pitch": "osc.fc", "velocity": "vca.in3", "bend_range": 2 },
  "modules": {
    "osc": { "plugin": "sumtone", "pins": { "fm1": 0.1, "N": 10, "a": 0.08, "maxfreq": 300 } },
    "env": { "plugin": "ramplet", "pins": { "Attack": 0, "Release": 0.2 } },
    "vca": { "utility": "multiply", "inputs": 3 }
  },
  "wires": [
    { "from": "env.Signal Out", "to": "osc.gate" },
    { "from": "osc.output", "to": "vca.in1" },
    { "from": "env.Signal Out", "to": "vca.in2" }
  ],
  "output": "vca.out"
})";

// One track at 96 pulses a quarter and the default 120 beats a minute: a
// chord of three notes at 0, released half a second later.
std::string ChordSong() {
    const unsigned char track[] = {
        0x00, 0x90, 60,   100, 0x00, 0x90, 64, 100, 0x00, 0x90, 67, 100,  // three notes at 0
        0x60, 0x80, 60,   0,   0x00, 0x80, 64, 0,   0x00, 0x80, 67, 0,    // off after 96 pulses
        0x00, 0xFF, 0x2F, 0x00};
    std::string bytes = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk";
    bytes += std::string("\0\0\0", 3) + static_cast<char>(sizeof track);
    bytes.append(reinterpret_cast<const char*>(track), sizeof track);
    return bytes;
}

}  // namespace

TEST_F(ToolTest, RenderAndPatchPlayASongOnThePatchsVoices) {
    if (!RealPluginsBuilt()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    WriteFile("voices.json", kVoicePatch);
    WriteFile("chord.mid", ChordSong());
    const CommandResult render = Vxhost("render voices.json --midi chord.mid -o chord.wav");
    ASSERT_EQ(render.status, 0) << render.err;
    // Three notes on two voices: the third steals the first.
    EXPECT_NE(render.out.find("played 3 notes on 2 voices, 1 stolen"), std::string::npos) << render.out;
    const Wav wav = ReadWav(Scratch("chord.wav"));
    EXPECT_EQ(wav.sample_rate, 48000);
    EXPECT_EQ(wav.samples.size(), 72000u) << "the last message and a second";
    float peak = 0.0f;
    for (float s : wav.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.05f);

    const CommandResult patch = Vxhost("patch voices.json --midi chord.mid -o again.wav");
    ASSERT_EQ(patch.status, 0) << patch.err;
    EXPECT_EQ(ReadWav(Scratch("again.wav")).samples, wav.samples);
}

TEST_F(ToolTest, ABadSongOrNoteMappingIsOneLineAndFailure) {
    if (!RealPluginsBuilt()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    WriteFile("voices.json", kVoicePatch);
    WriteFile("chord.mid", ChordSong());
    WriteFile("text.mid", "not a song\n");
    WriteFile("cut.mid", ChordSong().substr(0, 30));
    std::string wrong = kVoicePatch;
    wrong.replace(wrong.find("env.Gate"), 8, "env.Gait");
    WriteFile("wrong.json", wrong);
    std::string plain = kVoicePatch;
    plain.replace(plain.find("\"notes\""), 7, "\"unused\"");
    const struct {
        std::string args;
        int status;
        std::string err;
    } cases[] = {
        {"render voices.json --midi text.mid -o x.wav", 1,
         "vxhost: text.mid is not a standard MIDI file (it does not begin with an MThd header)\n"},
        {"patch voices.json --midi cut.mid -o x.wav", 1,
         "vxhost: cut.mid is a truncated MIDI file: a chunk announces 28 bytes but only 8 follow\n"},
        {"render wrong.json --midi chord.mid -o x.wav", 1,
         "vxhost: wrong.json:5:22: module \"env\" (ramplet) has no pin \"Gait\"; its pins: Gate, Attack, Decay, "
         "Sustain, Release, Overall Level, Signal Out, Reset Level on Trigger\n"},
        {"render sumtone --midi chord.mid -o x.wav", 2,
         "vxhost: --midi plays notes on a patch file; a plug-in alone has no note mapping\n"},
        {"render voices.json -p fc=0.5 -o x.wav", 2,
         "vxhost: --pin and --out-pin name pins of a plug-in; voices.json is a patch, which gives its pins their "
         "sources itself\n"},
    };
    for (const auto& c : cases) {
        const CommandResult result = Vxhost(c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_EQ(result.err, c.err) << c.args;
        EXPECT_FALSE(Exists("x.wav")) << c.args;
    }
}

#endif  // VX_TOOL_READS_MIDI
