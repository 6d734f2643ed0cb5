// Every way a command can fail gives one clear line on standard error, a
// non-zero exit status, and no output file, not even a partial one.
#include "tool_support.h"

namespace {

struct Failure {
    const char* what;
    std::string args;
    std::string message;  // standard error, exactly
};

const char* const kGoodPatch = R"({
  "modules": {
    "a": { "plugin": "tracer" },
    "b": { "plugin": "tracer" }
  },
  "wires": [ { "from": "a.Out", "to": "b.In" } ]
})";

}  // namespace

TEST_F(ToolTest, FailuresExplainThemselvesAndLeaveNoFile) {
    const std::string libraries = VX_TEST_LIBRARIES;
    WriteFile("text.so", "not a library");
    WriteFile("syntax.json", "{\n  \"modules\": {\n    \"a\": { \"plugin\": \"tracer\" },\n  }\n}\n");
    WriteFile("two_outputs.json", R"({
  "modules": { "a": { "plugin": "tracer" }, "b": { "plugin": "tracer" } },
  "wires": [ { "from": "a.Out", "to": "b.Out" } ]
})");
    WriteFile("cycle.json", R"({
  "modules": { "a": { "plugin": "tracer" }, "b": { "plugin": "tracer" } },
  "wires": [ { "from": "a.Out", "to": "b.In" },
             { "from": "b.Out", "to": "a.Ctl" } ]
})");
    WriteFile("unknown_module.json", R"({
  "modules": { "a": { "plugin": "tracer" } },
  "wires": [ { "from": "a.Out", "to": "ghost.In" } ]
})");
    WriteFile("bad_source.json", R"({
  "modules": { "a": { "plugin": "tracer", "pins": { "In": "0:1,x:2" } } }
})");
    WriteFile("good.json", kGoodPatch);

    const std::vector<Failure> failures = {
        {"unknown plug-in", "render nosuch -o out.wav",
         "vxhost: plug-in \"nosuch\" not found (searched " VX_PLUGIN_DIR "; add folders to VXHOST_PATH)\n"},
        {"missing file", "render ./missing.so -o out.wav", "vxhost: no such plug-in file: ./missing.so\n"},
        {"unloadable library", "info ./text.so", ""},
        {"no entry points", "info " + libraries + "/no_entry_points.so",
         "vxhost: " + libraries +
             "/no_entry_points.so is not a plug-in: it does not export getModuleProperties and makeModule\n"},
        {"makeModule returns null", "render " + libraries + "/null_module.so -o out.wav",
         "vxhost: module \"null_module\": " + libraries + "/null_module.so: makeModule returned no instance\n"},
        {"missing audio file", "render tracer --pin In=nothere.wav -o out.wav", ""},
        {"malformed patch", "patch syntax.json -o out.wav", ""},
        {"wire between outputs", "patch two_outputs.json -o out.wav",
         "vxhost: two_outputs.json:3:24: wire a.Out -> b.Out connects two outputs\n"},
        {"cycle", "patch cycle.json -o out.wav", "vxhost: cycle.json:4:24: wire b.Out -> a.Ctl makes a cycle\n"},
        {"unknown module", "patch unknown_module.json -o out.wav",
         "vxhost: unknown_module.json:3:39: unknown module \"ghost\" in \"ghost.In\"\n"},
        {"malformed source in a patch", "patch bad_source.json -o out.wav",
         "vxhost: bad_source.json:2:64: step time must be a number of seconds, 0 or more\n"},
        {"unwritable output", "patch good.json -o no/such/folder/out.wav",
         "vxhost: cannot write no/such/folder/out.wav: No such file or directory\n"},
        {"output is a folder", "patch good.json -o .", "vxhost: cannot write .: it is a folder\n"},
    };
    for (const Failure& f : failures) {
        const CommandResult result = Vxhost(f.args);
        EXPECT_EQ(result.status, 1) << f.what;
        if (!f.message.empty()) {
            EXPECT_EQ(result.err, f.message) << f.what;
        }
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << f.what << ": " << result.err;
        EXPECT_EQ(result.err.rfind("vxhost: ", 0), 0u) << f.what;
        EXPECT_TRUE(result.out.empty()) << f.what;
    }
    // A --pin that the module cannot take is a mistake in the command line.
    const std::vector<Failure> usage = {
        {"unknown pin", "render tracer --pin Inn=1 -o out.wav",
         "vxhost: --pin \"Inn=1\": column 1: module \"tracer\" has no pin \"Inn\"; its pins: In, Ctl, Out, Choice, "
         "Offset\n"},
        {"malformed step list", "render tracer --pin In=0:1,0.5 -o out.wav",
         "vxhost: --pin \"In=0:1,0.5\": column 8: expected TIME:VALUE (seconds:value)\n"},
        {"value of the wrong kind", "render tracer --pin Choice=C -o out.wav",
         "vxhost: --pin \"Choice=C\": column 8: \"C\" is not a choice of Choice (A=1, B=2)\n"},
    };
    for (const Failure& f : usage) {
        const CommandResult result = Vxhost(f.args);
        EXPECT_EQ(result.status, 2) << f.what;
        EXPECT_EQ(result.err, f.message) << f.what;
    }
    const std::vector<std::string> left = Files();
    for (const std::string& name : left)
        EXPECT_TRUE(name.find(".json") != std::string::npos || name == "text.so") << "left behind: " << name;

    // The reasons that come from elsewhere, checked by their gist.
    EXPECT_NE(Vxhost("info ./text.so").err.find("cannot load ./text.so"), std::string::npos);
    EXPECT_NE(Vxhost("render tracer --pin In=nothere.wav -o out.wav").err.find("cannot read audio file nothere.wav"),
              std::string::npos);
    EXPECT_EQ(Vxhost("patch syntax.json -o out.wav").err.rfind("vxhost: syntax.json:4:3: malformed JSON", 0), 0u);
}

TEST_F(ToolTest, UsageMistakesExitWithStatusTwo) {
    EXPECT_EQ(Vxhost("").status, 2);
    EXPECT_EQ(Vxhost("render tracer").status, 2) << "no output file";
    EXPECT_EQ(Vxhost("render tracer --rate 0 -o x.wav").status, 2);
    EXPECT_EQ(Vxhost("render --help").status, 0);
    EXPECT_EQ(Vxhost("render -p In=1 tracer -o order.wav").status, 0)
        << "each --pin takes one value, wherever it stands";
}
