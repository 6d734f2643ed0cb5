#include "Validator.h"

#include <chrono>
#include <exception>

#include "HostError.h"
#include "ValidatorChecks.h"
#include "ValidatorIsolation.h"

namespace vxhost {

const std::vector<CheckInfo>& AllChecks() {
    static const std::vector<CheckInfo> checks = {
        {"module-properties", "properties", 1, "exports, module texts and framework version", CheckModuleProperties},
        {"instance-record", "properties", 1, "the record makeModule returns and the dispatcher's answers",
         CheckInstanceRecord},
        {"pin-table", "properties", 1, "pin names, codes, defaults, choice lists and the flag rule", CheckPinTable},
        {"pin-queries", "properties", 1, "stable answers, and none past the last pin or for negative indexes",
         CheckPinQueries},
        {"open-close", "lifecycle", 1, "instances made, opened, played and closed in turn", CheckOpenClose},
        {"null-callback", "lifecycle", 1, "an instance without a host callback", CheckNullCallback},
        {"call-lengths", "lifecycle", 1, "processing calls of random lengths, empty ones included", CheckCallLengths},
        {"buffer-window", "processing", 1, "each call writes exactly its window of the output and no input",
         CheckBufferWindow},
        {"finite-output", "processing", 1, "finite output without denormals for inputs in range", CheckFiniteOutput},
        {"announcement-stamps", "processing", 1, "stream-state announcements stamped within the current call",
         CheckAnnouncementStamps},
        {"sleep-protocol", "sleep", 1, "settled outputs hold still, and settled modules ask to sleep",
         CheckSleepProtocol},
        {"many-instances", "lifecycle", 2, "many instances at once, each on its own", CheckManyInstances},
        {"restart", "lifecycle", 2, "OP_RESTART before and while playing", CheckRestart},
        {"sample-rates", "lifecycle", 2, "sample rates from 1000 to 768000 Hz, fractional ones too", CheckSampleRates},
        {"block-sizes", "lifecycle", 2, "block sizes from 1 to 16384 samples", CheckBlockSizes},
        {"events", "processing", 2, "events at the first and last sample of blocks and in between", CheckEventsAtEdges},
        {"determinism", "processing", 2, "the same output for the same input in other instances and runs",
         CheckDeterminism},
        {"wake-continuation", "sleep", 2, "a module put to sleep and woken goes on as one never put to sleep",
         CheckWakeContinuation},
        {"block-split", "processing", 3, "the same output whether a render comes in one piece or cut up",
         CheckBlockSplit},
        {"input-abuse", "robustness", 3, "extremes, NaN, infinities and denormals on every input, then recovery",
         CheckInputAbuse},
        {"realtime-safety", "robustness", 9, "no allocation or release of memory while processing",
         CheckRealtimeSafety},
    };
    return checks;
}

const CheckInfo* FindCheck(const std::string& name) {
    for (const CheckInfo& check : AllChecks())
        if (name == check.name) return &check;
    return nullptr;
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    // Backtracking to the last star only: linear enough for names this short,
    // and never exponential whatever the pattern.
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> ChecksMatching(const std::string& pattern) {
    std::vector<std::string> names;
    for (const CheckInfo& check : AllChecks())
        if (MatchesPattern(pattern, check.name)) names.emplace_back(check.name);
    return names;
}

uint64_t CheckSeed(uint64_t seed, const std::string& check_name) {
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (char c : check_name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return ValidatorRandom(seed ^ hash).Next();
}

CheckResult RunCheckHere(const CheckInfo& check, const CheckContext& context, CheckLog* log) {
    CheckLog own;
    CheckLog& findings = log != nullptr ? *log : own;
    CheckResult result;
    result.name = check.name;
    result.group = check.group;
    const auto start = std::chrono::steady_clock::now();
    try {
        check.run(context, findings);
    } catch (const std::exception& e) {
        findings.Fail("the check stopped: " + std::string(e.what()) +
                      (findings.CurrentStage().empty() ? "" : " (while " + findings.CurrentStage() + ")"));
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = findings.Status();
    result.reasons = findings.Reasons();
    return result;
}

ValidationReport Validate(const PluginLibrary& library, const ValidationOptions& options,
                          const ResultListener& listener) {
    for (const std::string& name : options.only)
        if (FindCheck(name) == nullptr) throw HostError("there is no check called \"" + name + "\"");
    ValidationReport report;
    report.plugin = library.Path();
    report.level = options.level;
    report.seed = options.seed;
    const auto stopped = [&options] { return options.stop_requested && options.stop_requested(); };
    for (const CheckInfo& check : AllChecks()) {
        if (stopped()) break;
        bool chosen = options.only.empty() ? check.first_level <= options.level : false;
        for (const std::string& name : options.only) chosen = chosen || name == check.name;
        if (!chosen) continue;
        CheckContext context;
        context.library = &library;
        context.level = options.level;
        context.seed = CheckSeed(options.seed, check.name);
        CheckResult result;
        if (options.isolate && IsolationAvailable())
            result = RunCheckIsolated(check, context, options.time_limit_seconds, stopped);
        else if (options.isolate && !options.child_program.empty())
            result = RunCheckInProgram(options.child_program, check, context, options.time_limit_seconds, stopped);
        else
            result = RunCheckHere(check, context);
        if (stopped()) break;
        if (listener) listener(result);
        report.checks.push_back(std::move(result));
    }
    return report;
}

}  // namespace vxhost
