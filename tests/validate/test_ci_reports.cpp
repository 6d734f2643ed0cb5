// What CI pipelines read from the validator: checks chosen by pattern, and
// the JUnit report, which must stay well-formed whatever a plug-in writes
// into its reasons.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Validator.h"
#include "ValidatorJunit.h"
#include "WellFormedXml.h"

namespace {

using vxhost::CheckResult;
using vxhost::CheckStatus;

TEST(CheckPatterns, StarsAndQuestionMarksMatchAsInAShell) {
    EXPECT_TRUE(vxhost::MatchesPattern("sleep-*", "sleep-protocol"));
    EXPECT_TRUE(vxhost::MatchesPattern("*", "events"));
    EXPECT_TRUE(vxhost::MatchesPattern("*-*-*", "a-b-c"));
    EXPECT_TRUE(vxhost::MatchesPattern("even?s", "events"));
    EXPECT_TRUE(vxhost::MatchesPattern("*s*s", "block-sizes"));
    EXPECT_FALSE(vxhost::MatchesPattern("sleep-*", "wake-continuation"));
    EXPECT_FALSE(vxhost::MatchesPattern("even?", "events"));
    EXPECT_FALSE(vxhost::MatchesPattern("", "events"));
    EXPECT_FALSE(vxhost::MatchesPattern("events", "events2"));
    // A pattern of many stars against a long non-match ends at once.
    EXPECT_FALSE(vxhost::MatchesPattern("*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
}

TEST(CheckPatterns, APatternGivesItsChecksInRunningOrder) {
    EXPECT_EQ(vxhost::ChecksMatching("pin-*"), (std::vector<std::string>{"pin-table", "pin-queries"}));
    EXPECT_EQ(vxhost::ChecksMatching("*-sizes"), std::vector<std::string>{"block-sizes"});
    EXPECT_EQ(vxhost::ChecksMatching("*").size(), vxhost::AllChecks().size());
    EXPECT_TRUE(vxhost::ChecksMatching("no-such-*").empty());
}

TEST(XmlEscape, MarkupControlCharactersAndBrokenUtf8AreMadeSafe) {
    EXPECT_EQ(vxhost::XmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(vxhost::XmlEscape("line\nnext\ttab"), "line&#10;next&#9;tab");
    // XML 1.0 has no NUL, no escape character and no lone continuation byte.
    EXPECT_EQ(vxhost::XmlEscape(std::string("a\0b", 3)),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(vxhost::XmlEscape("\x1B[0m"), "\xEF\xBF\xBD[0m");
    EXPECT_EQ(vxhost::XmlEscape("\x80\xFF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    // An overlong form and a surrogate are not UTF-8 either; a cut-off sequence at the end neither.
    EXPECT_EQ(vxhost::XmlEscape("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(vxhost::XmlEscape("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(vxhost::XmlEscape("ok \xE2\x82"), "ok \xEF\xBF\xBD\xEF\xBF\xBD");
    // Well-formed text outside ASCII stays as it is.
    EXPECT_EQ(vxhost::XmlEscape("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5");
}

CheckResult Result(const std::string& name, CheckStatus status, std::vector<std::string> reasons, double seconds) {
    CheckResult result;
    result.name = name;
    result.group = vxhost::FindCheck(name)->group;
    result.status = status;
    result.reasons = std::move(reasons);
    result.seconds = seconds;
    return result;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(JunitReport, ASuitePerPlugInACasePerCheckWithFailuresAndSkips) {
    vxhost::JunitSuite good;
    good.name = "good";
    good.report.plugin = "/plug-ins/good.so";
    good.report.level = 1;
    good.report.seed = 42;
    good.report.checks.push_back(Result("pin-table", CheckStatus::Pass, {}, 0.25));
    good.report.checks.push_back(Result("sleep-protocol", CheckStatus::Warn, {"never asks to sleep"}, 1.5));

    vxhost::JunitSuite bad;
    bad.name = "bad & <broken>";
    bad.report.plugin = "/plug-ins/bad.so";
    bad.report.level = 3;
    bad.report.checks.push_back(
        Result("finite-output", CheckStatus::Fail, {"output 'out' is nan at sample 3", "and \"more\" \x01"}, 0.125));
    bad.report.checks.push_back(Result("realtime-safety", CheckStatus::Skip, {"cannot count here"}, 0.0));

    vxhost::JunitSuite missing;
    missing.name = "missing";
    missing.load_error = "plug-in \"missing\" not found";

    const std::string xml = vxhost::JunitXml({good, bad, missing});
    std::map<std::string, int> elements;
    ASSERT_EQ(XmlProblem(xml, &elements), "") << xml;
    const int checks = static_cast<int>(vxhost::AllChecks().size());
    EXPECT_EQ(elements["testsuites"], 1);
    EXPECT_EQ(elements["testsuite"], 3);
    EXPECT_EQ(elements["testcase"], 2 * checks + 1);
    EXPECT_EQ(elements["failure"], 1);
    EXPECT_EQ(elements["error"], 1);
    // Everything not run is skipped: the good one ran 2 of all, the bad one 1
    // and skipped a second itself.
    EXPECT_EQ(elements["skipped"], (checks - 2) + (checks - 1));

    const std::string all_tests = std::to_string(2 * checks + 1);
    EXPECT_NE(xml.find("<testsuites name=\"vxhost validate\" tests=\"" + all_tests + "\" failures=\"1\" errors=\"1\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testsuite name=\"good\" tests=\"" + std::to_string(checks) +
                       "\" failures=\"0\" errors=\"0\" skipped=\"" + std::to_string(checks - 2) + "\" time=\"1.750\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testsuite name=\"bad &amp; &lt;broken&gt;\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<testcase name=\"finite-output\" classname=\"bad &amp; &lt;broken&gt;\" time=\"0.125\">\n"
                       "      <failure message=\"output &apos;out&apos; is nan at sample 3\" type=\"FAIL\">"
                       "output &apos;out&apos; is nan at sample 3&#10;and &quot;more&quot; \xEF\xBF\xBD</failure>"),
              std::string::npos)
        << xml;
    // Why a check did not run: below its level, or left out by the selection.
    EXPECT_NE(xml.find("<testcase name=\"many-instances\" classname=\"good\" time=\"0.000\">\n"
                       "      <skipped message=\"runs from level 2\"/>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testcase name=\"module-properties\" classname=\"good\" time=\"0.000\">\n"
                       "      <skipped message=\"not selected\"/>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<skipped message=\"cannot count here\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<system-out>WARN&#10;never asks to sleep</system-out>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<property name=\"seed\" value=\"42\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<testcase name=\"load\" classname=\"missing\" time=\"0.000\">\n"
                       "      <error message=\"plug-in &quot;missing&quot; not found\" type=\"load\"/>"),
              std::string::npos)
        << xml;
    EXPECT_EQ(Count(xml, "<testsuite "), 3u);
}

}  // namespace

#if defined(_WIN32)
#include "ChildProcessWindows.h"

namespace {

TEST(WindowsChildProcess, ArgumentsSurviveTheCommandLineAndOutputComesBack) {
    // The runtime splits the line back: spaces, quotes and backslashes before a quote.
    EXPECT_EQ(vxhost::QuoteArgument("plain"), "plain");
    EXPECT_EQ(vxhost::QuoteArgument(""), "\"\"");
    EXPECT_EQ(vxhost::QuoteArgument("two words"), "\"two words\"");
    EXPECT_EQ(vxhost::QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(vxhost::QuoteArgument("C:\\a b\\"), "\"C:\\a b\\\\\"");
    EXPECT_EQ(vxhost::QuoteArgument("C:\\plain\\path"), "C:\\plain\\path");

    // This program started again lists its own tests on the pipe.
    const vxhost::ChildOutcome child = vxhost::RunChildProcess(
        {vxhost::OwnProgramPath(), "--gtest_list_tests", "--gtest_filter=WindowsChildProcess.*"}, 60.0);
    ASSERT_TRUE(child.started) << child.start_error;
    EXPECT_EQ(child.exit_code, 0u);
    EXPECT_FALSE(child.timed_out);
    EXPECT_NE(child.out.find("ArgumentsSurviveTheCommandLineAndOutputComesBack"), std::string::npos) << child.out;
}

TEST(WindowsChildProcess, AnExitCodeIsNamedAsAStatusOrAnException) {
    EXPECT_EQ(vxhost::DescribeExitCode(3), "exit status 3");
    EXPECT_EQ(vxhost::DescribeExitCode(0xC0000005u), "exception 0xC0000005 (access violation)");
    EXPECT_EQ(vxhost::DescribeExitCode(0xC0000409u), "exception 0xC0000409 (stack buffer overrun)");
    EXPECT_EQ(vxhost::DescribeExitCode(0xE06D7363u), "exception 0xE06D7363");
}

}  // namespace
#endif
