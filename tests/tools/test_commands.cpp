// Each command end to end, against the tracer test plug-in: what a person
// sees, and the samples in the files written.
#include "tool_support.h"

#if VX_HAVE_TOOL  // the JSON library is installed for the native targets only
#include <nlohmann/json.hpp>
#endif

TEST_F(ToolTest, InfoShowsPropertiesAndThePinTableAsTableOrJson) {
    const CommandResult table = Vxhost("info tracer");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("Host Tracer"), std::string::npos);
    EXPECT_NE(table.out.find("framework  2190"), std::string::npos);
    // Audio defaults are read in volts: "5" is the sample value 0.5.
    EXPECT_NE(table.out.find("1    Ctl     in         audio   0.5 (5V)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("3    Choice  in         choice  A         A=1, B=2"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("4    Offset  setting    number  0"), std::string::npos) << table.out;

#if VX_HAVE_TOOL
    const CommandResult json = Vxhost("info tracer --json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["id"], "Tracer");
    ASSERT_EQ(parsed["pins"].size(), 5u);
    EXPECT_EQ(parsed["pins"][2]["direction"], "out");
    EXPECT_EQ(parsed["pins"][3]["choices"][1]["label"], "B");
    EXPECT_EQ(parsed["pins"][3]["choices"][1]["value"], 2);
#endif
}

TEST_F(ToolTest, RenderFeedsPinsFromValuesStepsAndFiles) {
    // A first render makes a recording that a second render plays back.
    CommandResult result = Vxhost("render tracer --pin In=0:0.5,0.5:-0.25 --pin Offset=0.125 --rate 1000 -o first.wav");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "wrote first.wav: 1.50 s at 1000 Hz, 1 channel (tracer.Out), peak 0.625 (-4.1 dBFS), WAV, 32-bit float\n");
    const Wav first = ReadWav(Scratch("first.wav"));
    ASSERT_EQ(first.samples.size(), 1500u) << "the last step plus a second";
    EXPECT_EQ(first.sample_rate, 1000);
    EXPECT_EQ(first.samples[499], 0.625f);
    EXPECT_EQ(first.samples[500], -0.125f);

    result = Vxhost("render tracer --pin In=first.wav --pin Offset=1 --rate 1000 --block 7 --length 2 -o second.wav");
    ASSERT_EQ(result.status, 0) << result.err;
    const Wav second = ReadWav(Scratch("second.wav"));
    ASSERT_EQ(second.samples.size(), 2000u);
    EXPECT_EQ(second.samples[0], 1.625f);
    EXPECT_EQ(second.samples[1499], 0.875f);
    EXPECT_EQ(second.samples[1500], 1.0f) << "after the recording ends its input is silent";
}

TEST_F(ToolTest, PatchWiresModulesAndRendersEachNamedOutput) {
    WriteFile("chain.json", R"({
  "sample_rate": 1000,
  "block_size": 16,
  "length": 0.1,
  "modules": {
    "level": { "utility": "steps", "points": "0:1, 0.05:2" },
    "first": { "plugin": "tracer", "pins": { "Offset": 0.5 } },
    "second": { "plugin": "tracer", "pins": { "In": "0:3", "Offset": -1 } },
    "vca": { "utility": "multiply" },
    "mix": { "utility": "mix", "inputs": 2, "gains": [1, 10] }
  },
  "wires": [
    { "from": "level.out", "to": "first.In" },
    { "from": "first.Out", "to": "vca.in1" },
    { "from": "second.Out", "to": "vca.in2" },
    { "from": "vca.out", "to": "mix.in1" },
    { "from": "level.out", "to": "mix.in2" }
  ],
  "output": ["vca.out", "mix.out"]
})");
    const CommandResult result = Vxhost("patch chain.json -o chain.wav");
    ASSERT_EQ(result.status, 0) << result.err;
    const Wav wav = ReadWav(Scratch("chain.wav"));
    ASSERT_EQ(wav.channels, 2);
    ASSERT_EQ(wav.samples.size(), 200u);
    // (level + 0.5) * (3 - 1), then mixed with ten times the level.
    EXPECT_EQ(wav.samples[2 * 49], 3.0f);
    EXPECT_EQ(wav.samples[2 * 49 + 1], 13.0f);
    EXPECT_EQ(wav.samples[2 * 50], 5.0f);
    EXPECT_EQ(wav.samples[2 * 50 + 1], 25.0f);
}
