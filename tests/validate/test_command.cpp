// `vxhost validate` as programs and people use it: the exit status says
// whether every check passed, --json gives one document, and the closing
// line counts the results.
#include <cstdio>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "validate_support.h"

namespace {

struct CommandRun {
    int status = -1;
    std::string out;
};

CommandRun Vxhost(const std::string& args) {
    CommandRun run;
#if defined(_WIN32)
    (void)args;
#else
    const std::string command = std::string(VXHOST_TOOL) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return run;
}

class ValidateCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(VXHOST_TOOL).empty()) GTEST_SKIP() << "vxhost is built on the native target only";
    }
};

TEST_F(ValidateCommand, PassingChecksExitWithZeroAndCountThemOnTheLastLine) {
    const CommandRun run = Vxhost("validate faulty_none --check pin-table --check buffer-window --seed 3");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("seed 3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nfaulty_none: 2 passed, 0 failed, 0 skipped\n"), std::string::npos) << run.out;
}

TEST_F(ValidateCommand, AFailingCheckExitsWithOneAndGivesItsReason) {
    const CommandRun run = Vxhost("validate faulty_nan --check finite-output --seed 3");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("FAIL  finite-output"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("      - output 'out' is nan at sample"), std::string::npos) << run.out;
}

TEST_F(ValidateCommand, JsonCarriesEveryCheckWithItsStatusAndReasons) {
    const CommandRun run = Vxhost("validate faulty_nan --json --level 1 --seed 3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.front(), '{');
    EXPECT_NE(run.out.find("\"passed\": false"), std::string::npos) << run.out;
    EXPECT_NE(
        run.out.find("\"name\": \"finite-output\",\n      \"group\": \"processing\",\n      \"status\": \"FAIL\""),
        std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("validating"), std::string::npos) << "JSON output is JSON only";
}

TEST_F(ValidateCommand, AnUnknownCheckOrPlugInIsAnErrorBeforeAnythingRuns) {
    EXPECT_EQ(Vxhost("validate faulty_none --check no-such-check").status, 2) << "a mistake in the command line";
    EXPECT_EQ(Vxhost("validate no_such_plugin").status, 1);
    EXPECT_EQ(Vxhost("validate faulty_none --level 11").status, 2);
}

}  // namespace
