// vxhost validate PLUGIN...: the validator's checks, each line as it
// finishes, or one JSON document for programs, and a JUnit file for CI
// servers; the exit status says whether all passed.
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "Commands.h"
#include "HostError.h"
#include "Interrupts.h"
#include "LibraryProbe.h"
#include "OutputTarget.h"
#include "PluginNode.h"
#include "PluginSearch.h"
#include "TextTable.h"
#include "UsageError.h"
#include "Validator.h"
#include "ValidatorJunit.h"

#if defined(_WIN32)
#include "ChildProcessWindows.h"
#endif

namespace vxhost {

namespace {

std::string Seconds(double seconds) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << seconds << " s";
    return out.str();
}

const CheckInfo& InfoOf(const CheckResult& result) { return *FindCheck(result.name); }

void PrintLine(const CheckResult& result) {
    std::cout << StatusName(result.status) << "  " << std::left << std::setw(20) << result.name << ' '
              << InfoOf(result).summary << " (" << Seconds(result.seconds) << ")\n";
    for (const std::string& reason : result.reasons) std::cout << "      - " << reason << '\n';
    std::cout.flush();
}

void PrintSummary(const ValidationReport& report, const std::string& name) {
    const int warned = report.Count(CheckStatus::Warn);
    if (warned > 0) std::cout << warned << (warned == 1 ? " check" : " checks") << " passed with warnings\n";
    std::cout << name << ": " << report.Count(CheckStatus::Pass) + warned << " passed, "
              << report.Count(CheckStatus::Fail) << " failed, " << report.Count(CheckStatus::Skip) << " skipped\n";
}

nlohmann::ordered_json ReportJson(const ValidationReport& report) {
    nlohmann::ordered_json out;
    out["plugin"] = report.plugin;
    out["level"] = report.level;
    out["seed"] = report.seed;
    out["passed"] = report.Passed();
    out["summary"] = {{"pass", report.Count(CheckStatus::Pass)},
                      {"warn", report.Count(CheckStatus::Warn)},
                      {"fail", report.Count(CheckStatus::Fail)},
                      {"skip", report.Count(CheckStatus::Skip)}};
    out["checks"] = nlohmann::ordered_json::array();
    for (const CheckResult& c : report.checks) {
        nlohmann::ordered_json check;
        check["name"] = c.name;
        check["group"] = c.group;
        check["status"] = StatusName(c.status);
        check["reasons"] = c.reasons;
        check["seconds"] = c.seconds;
        out["checks"].push_back(check);
    }
    return out;
}

void ListChecks(bool json) {
    if (json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const CheckInfo& c : AllChecks())
            out.push_back({{"name", c.name}, {"group", c.group}, {"level", c.first_level}, {"summary", c.summary}});
        std::cout << out.dump(2) << '\n';
        return;
    }
    TextTable table({"check", "group", "level", "what it asks of the plug-in"});
    for (const CheckInfo& c : AllChecks()) table.Add({c.name, c.group, std::to_string(c.first_level), c.summary});
    table.Print(std::cout);
}

// Names and patterns resolved to check names in running order, each once.
std::vector<std::string> SelectedChecks(const std::vector<std::string>& patterns) {
    std::vector<std::string> chosen;
    for (const std::string& pattern : patterns) {
        const std::vector<std::string> names = ChecksMatching(pattern);
        if (names.empty()) {
            std::string all;
            for (const CheckInfo& info : AllChecks()) all += (all.empty() ? "" : ", ") + std::string(info.name);
            const bool glob = pattern.find_first_of("*?") != std::string::npos;
            throw UsageError((glob ? "no check matches \"" : "there is no check called \"") + pattern + "\" (" + all +
                             "; see --list-checks)");
        }
        chosen.insert(chosen.end(), names.begin(), names.end());
    }
    std::vector<std::string> ordered;
    for (const CheckInfo& info : AllChecks())
        for (const std::string& name : chosen)
            if (name == info.name) {
                ordered.push_back(name);
                break;
            }
    return ordered;
}

}  // namespace

int RunValidate(const ValidateOptions& options) {
    if (options.list_checks) {
        ListChecks(options.json);
        return 0;
    }
    if (options.plugins.empty()) throw UsageError("validate needs a plug-in (or --list-checks)");
    ValidationOptions run;
    run.level = options.level;
    run.seed = options.seed_given ? options.seed : std::random_device{}();
    run.only = SelectedChecks(options.checks);
    run.time_limit_seconds = options.time_limit;
    run.stop_requested = &Interrupted;
#if defined(_WIN32)
    // Each check in a copy of this program, as fork does elsewhere.
    run.child_program = OwnProgramPath();
#endif
    if (!options.junit.empty()) {
        // A folder or a file that cannot be written is found out before the
        // checks have run for minutes, without touching what is there.
        OutputTarget(options.junit);
    }

    std::vector<JunitSuite> suites;
    nlohmann::ordered_json json_reports = nlohmann::ordered_json::array();
    bool all_passed = true;
    std::string first_error;
    for (const std::string& plugin : options.plugins) {
        JunitSuite suite;
        suite.name = plugin;
        std::shared_ptr<const PluginLibrary> library;
        try {
            library = LoadPluginSafely(plugin);
        } catch (const HostError& e) {
            // With one plug-in this is the command's failure; with several the
            // others still run, and the JUnit file records the one that did not load.
            if (Interrupted()) throw;
            if (options.plugins.size() == 1 && options.junit.empty()) throw;
            if (options.plugins.size() > 1) std::cerr << "vxhost: " << e.what() << '\n';
            suite.load_error = e.what();
            all_passed = false;
            if (first_error.empty()) first_error = e.what();
            suites.push_back(std::move(suite));
            continue;
        }
        const std::string name = PluginStem(library->Path());
        if (!options.json)
            std::cout << "validating " << name << " (" << library->Path() << ") at level " << run.level << ", seed "
                      << run.seed << std::endl;
        suite.report = Validate(*library, run, options.json ? ResultListener() : PrintLine);
        if (Interrupted()) throw HostError("interrupted");
        if (options.json)
            json_reports.push_back(ReportJson(suite.report));
        else
            PrintSummary(suite.report, name);
        all_passed = all_passed && suite.report.Passed();
        suites.push_back(std::move(suite));
    }
    // One plug-in gives its report; several a list of the reports that were made.
    if (options.json && options.plugins.size() > 1) std::cout << json_reports.dump(2) << '\n';
    if (options.json && options.plugins.size() == 1 && !json_reports.empty())
        std::cout << json_reports[0].dump(2) << '\n';
    if (!options.junit.empty()) WriteTextFile(options.junit, JunitXml(suites));
    if (options.plugins.size() == 1 && !first_error.empty()) throw HostError(first_error);
    return all_passed ? 0 : 1;
}

}  // namespace vxhost
