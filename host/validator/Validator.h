// `vxhost validate`: a named series of checks that drive a plug-in the way a
// strict host would, each reported PASS, WARN, FAIL or SKIP with its reasons.
// Higher levels run more checks and longer ones; every check draws its
// random numbers from the run's seed, so a failure replays with that seed.
#ifndef VXHOST_VALIDATOR_H
#define VXHOST_VALIDATOR_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "ValidatorReport.h"

namespace vxhost {

constexpr int kLowestLevel = 1;
constexpr int kHighestLevel = 10;
constexpr int kDefaultLevel = 5;

struct CheckContext {
    const PluginLibrary* library = nullptr;
    int level = kDefaultLevel;
    uint64_t seed = 0;  // this check's own
};

struct CheckInfo {
    const char* name;
    const char* group;
    int first_level;  // runs at this level and above
    const char* summary;
    void (*run)(const CheckContext& context, CheckLog& log);
};

// In the order they run.
const std::vector<CheckInfo>& AllChecks();
const CheckInfo* FindCheck(const std::string& name);

// Whether `name` matches the shell-style `pattern`: `*` stands for any run of
// characters, `?` for one; everything else matches itself.
bool MatchesPattern(const std::string& pattern, const std::string& name);
// The names of the checks a pattern matches, in the order they run; empty
// when it matches none.
std::vector<std::string> ChecksMatching(const std::string& pattern);

struct ValidationOptions {
    int level = kDefaultLevel;
    uint64_t seed = 1;
    std::vector<std::string> only;  // names of checks to run; empty for all of the level
    // Each check runs in a child process that is stopped after this long,
    // where the platform has child processes.
    double time_limit_seconds = 300.0;
    bool isolate = true;
    // Where there is no fork (Windows), the program started for each check
    // with the internal check command (see ValidatorIsolation.h); empty runs
    // the checks in this process there.
    std::string child_program;
    // Asked between checks and while an isolated check runs: true stops the
    // run (the running check's child is ended) and Validate returns the
    // checks finished so far.
    std::function<bool()> stop_requested;
};

using ResultListener = std::function<void(const CheckResult&)>;

// HostError for an unknown check name. The listener hears each result as it comes.
ValidationReport Validate(const PluginLibrary& library, const ValidationOptions& options,
                          const ResultListener& listener = nullptr);

// One check in this process: a crash of the plug-in is a crash of the caller.
CheckResult RunCheckHere(const CheckInfo& check, const CheckContext& context, CheckLog* log = nullptr);

uint64_t CheckSeed(uint64_t seed, const std::string& check_name);

}  // namespace vxhost

#endif  // VXHOST_VALIDATOR_H
