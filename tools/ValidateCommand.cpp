// vxhost validate PLUGIN: the validator's checks, each line as it finishes,
// or one JSON document for programs; the exit status says whether all passed.
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "Commands.h"
#include "HostError.h"
#include "Interrupts.h"
#include "LibraryProbe.h"
#include "PluginNode.h"
#include "UsageError.h"
#include "PluginSearch.h"
#include "Validator.h"

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

void PrintJson(const ValidationReport& report) {
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
    std::cout << out.dump(2) << '\n';
}

}  // namespace

int RunValidate(const ValidateOptions& options) {
    for (const std::string& check : options.checks)
        if (FindCheck(check) == nullptr) {
            std::string names;
            for (const CheckInfo& info : AllChecks()) names += (names.empty() ? "" : ", ") + std::string(info.name);
            throw UsageError("there is no check called \"" + check + "\" (" + names + ")");
        }
    const auto library = LoadPluginSafely(options.plugin);
    ValidationOptions run;
    run.level = options.level;
    run.seed = options.seed_given ? options.seed : std::random_device{}();
    run.only = options.checks;
    run.time_limit_seconds = options.time_limit;
    run.stop_requested = &Interrupted;
    const std::string name = PluginStem(library->Path());
    if (!options.json)
        std::cout << "validating " << name << " (" << library->Path() << ") at level " << run.level << ", seed "
                  << run.seed << std::endl;
    const ValidationReport report = Validate(*library, run, options.json ? ResultListener() : PrintLine);
    if (Interrupted()) throw HostError("interrupted");
    if (options.json)
        PrintJson(report);
    else
        PrintSummary(report, name);
    return report.Passed() ? 0 : 1;
}

}  // namespace vxhost
