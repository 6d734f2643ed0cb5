// The commands CI pipelines use: the list of checks, checks chosen by
// pattern, a JUnit file beside the lines, several plug-ins in one run, and
// the list of plug-ins on the search path, where a library that crashes
// while loading is listed as refused.
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "Validator.h"
#include "WellFormedXml.h"
#include "tool_support.h"

#if VX_HAVE_TOOL
#include <nlohmann/json.hpp>
#endif

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The line that starts with `start`, empty when there is none.
std::string LineStartingWith(const std::string& text, const std::string& start) {
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(start, 0) == 0) return line;
    return "";
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST_F(ToolTest, ListChecksGivesEachCheckOnceAsLinesOrJson) {
    const CommandResult table = Vxhost("validate --list-checks");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(Lines(table.out), vxhost::AllChecks().size() + 1) << table.out;
    EXPECT_NE(table.out.find("\nsleep-protocol       sleep       1      settled outputs hold still"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("\nrealtime-safety      robustness  9      "), std::string::npos) << table.out;
#if VX_HAVE_TOOL
    const CommandResult json = Vxhost("validate --list-checks --json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), vxhost::AllChecks().size());
    EXPECT_EQ(parsed[0]["name"], "module-properties");
    EXPECT_EQ(parsed.back()["level"], 9);
    EXPECT_EQ(parsed.back()["group"], "robustness");
#endif
}

TEST_F(ToolTest, PatternsChooseChecksOnceAndOneMatchingNothingIsAUsageError) {
    // "pin-*" and "pin-table" overlap: each check still runs once, in running order.
    const CommandResult run = Vxhost("validate tracer --check 'pin-*' --check pin-table --check 'module-*' --seed 1");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const size_t properties = run.out.find("PASS  module-properties");
    const size_t table = run.out.find("PASS  pin-table");
    const size_t queries = run.out.find("PASS  pin-queries");
    ASSERT_NE(properties, std::string::npos) << run.out;
    EXPECT_LT(properties, table);
    EXPECT_LT(table, queries);
    EXPECT_NE(run.out.find("tracer: 3 passed, 0 failed, 0 skipped"), std::string::npos) << run.out;

    for (const char* bad : {"--check 'nothing-*'", "--check pin-table --check 'zz?'", "--check pin"}) {
        const CommandResult refused = Vxhost(std::string("validate tracer ") + bad);
        EXPECT_EQ(refused.status, 2) << bad;
        EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
        EXPECT_EQ(refused.out, "") << "nothing runs: " << refused.out;
    }
    EXPECT_NE(Vxhost("validate tracer --check 'nothing-*'").err.find("no check matches \"nothing-*\""),
              std::string::npos);
    EXPECT_EQ(Vxhost("validate").status, 2) << "a plug-in or --list-checks is needed";
}

TEST_F(ToolTest, JunitFileCountsEveryPlugInsChecksAndCarriesTheFailure) {
    const CommandResult run =
        Vxhost("validate faulty_nan tracer --level 1 --check 'finite-*' --check pin-table --seed 3 --junit out.xml");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("faulty_nan: 1 passed, 1 failed, 0 skipped"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("tracer: 2 passed, 0 failed, 0 skipped"), std::string::npos) << run.out;
    const std::string xml = Contents(Scratch("out.xml"));
    std::map<std::string, int> elements;
    ASSERT_EQ(XmlProblem(xml, &elements), "") << xml;
    const int checks = static_cast<int>(vxhost::AllChecks().size());
    EXPECT_EQ(elements["testsuite"], 2);
    EXPECT_EQ(elements["testcase"], 2 * checks);
    EXPECT_EQ(elements["failure"], 1);
    EXPECT_EQ(elements["skipped"], 2 * (checks - 2));
    EXPECT_NE(xml.find("<testsuite name=\"faulty_nan\" tests=\"" + std::to_string(checks) + "\" failures=\"1\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testcase name=\"finite-output\" classname=\"faulty_nan\""), std::string::npos);
    EXPECT_NE(xml.find("<failure message=\"output &apos;out&apos; is nan at sample"), std::string::npos) << xml;
    EXPECT_EQ(Files(), std::vector<std::string>{"out.xml"}) << "no temporary file is left beside it";
}

TEST_F(ToolTest, JunitRecordsAPlugInThatDoesNotLoadAndLeavesAnUnwritableTargetAlone) {
    WriteFile("out.xml", "old");
    const CommandResult missing = Vxhost("validate nosuch tracer --check pin-table --junit out.xml --json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("vxhost: plug-in \"nosuch\" not found"), std::string::npos) << missing.err;
    const std::string xml = Contents(Scratch("out.xml"));
    EXPECT_EQ(XmlProblem(xml), "") << xml;
    EXPECT_NE(xml.find("<testsuite name=\"nosuch\" tests=\"1\" failures=\"0\" errors=\"1\""), std::string::npos) << xml;
#if VX_HAVE_TOOL
    // Several plug-ins give a JSON list, one report each that was made.
    const auto parsed = nlohmann::json::parse(missing.out);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["passed"], true);
#endif

    // A folder is found out before anything runs.
    const CommandResult folder = Vxhost("validate tracer --junit .");
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.out, "");
    EXPECT_NE(folder.err.find("it is a folder"), std::string::npos) << folder.err;
}

TEST_F(ToolTest, ListShowsThePlugInsOnThePathAndACrashingLibraryAsRefused) {
    const CommandResult plain = Vxhost("list");
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string ramplet = LineStartingWith(plain.out, "ramplet ");
    EXPECT_NE(ramplet.find(" Varnix Ramplet Module "), std::string::npos) << plain.out;
    EXPECT_NE(ramplet.find(" 2190 "), std::string::npos) << plain.out;
    EXPECT_NE(ramplet.find(" " + std::string(VX_PLUGIN_DIR) + "/ramplet.so"), std::string::npos) << plain.out;

    // A truncated library crashes the system's loader; a second copy of a
    // name is listed as hidden by the first.
    const std::string whole = Contents(std::string(VX_PLUGIN_DIR) + "/sumtone.so");
    ASSERT_GT(whole.size(), 5000u);
    WriteFile("broken.so", whole.substr(0, 5000));
    WriteFile("tracer.so", Contents(std::string(VX_PLUGIN_DIR) + "/tracer.so"));
    WriteFile("notes.txt", "not a plug-in");
#if VX_HAVE_TOOL
    setenv("VXHOST_PATH", m_folder.c_str(), 1);
#endif
    const CommandResult table = Vxhost("list");
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(LineStartingWith(table.out, "broken ").find(" refused: loading it crashes"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find(m_folder + "/tracer.so (hidden by an earlier one)"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("notes"), std::string::npos) << table.out;
#if VX_HAVE_TOOL
    const CommandResult json = Vxhost("list --json");
    ASSERT_EQ(json.status, 0) << json.err;
    bool found = false;
    for (const auto& entry : nlohmann::json::parse(json.out))
        if (entry["name"] == "broken") {
            found = true;
            EXPECT_EQ(entry["loadable"], false);
            EXPECT_NE(entry["error"].get<std::string>().find("loading it crashes"), std::string::npos);
            EXPECT_EQ(entry["path"], m_folder + "/broken.so");
        }
    EXPECT_TRUE(found) << json.out;
    unsetenv("VXHOST_PATH");
#endif
}

TEST_F(ToolTest, TheInternalCheckCommandReportsStagesAndEndsTheWayThePlugInDoes) {
    // What the Windows build's parent reads from each check's process.
    const std::string crash = std::string(VX_PLUGIN_DIR) + "/faulty_crash.so";
    const CommandResult crashed = Vxhost("__check '" + crash + "' input-abuse 3 7");
    EXPECT_NE(crashed.status, 0);
    EXPECT_EQ(crashed.out.rfind("stage ", 0), 0u) << crashed.out;
    EXPECT_EQ(crashed.out.find("\nend\n"), std::string::npos) << "no report after a crash";

    const CommandResult passed = Vxhost("__check '" + std::string(VX_PLUGIN_DIR) + "/tracer.so' pin-table 1 7");
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_NE(passed.out.find("status PASS\nend\n"), std::string::npos) << passed.out;

    EXPECT_EQ(Vxhost("__check '" + crash + "' no-such-check 3 7").status, 2);
    EXPECT_EQ(Vxhost("__check '" + crash + "' input-abuse 11 7").status, 2);
    const CommandResult probe = Vxhost("__probe '" + std::string(VX_PLUGIN_DIR) + "/tracer.so'");
    EXPECT_EQ(probe.status, 0);
    EXPECT_EQ(probe.out.rfind("loaded\nTracer\nHost Tracer\n", 0), 0u) << probe.out;
}
