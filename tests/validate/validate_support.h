// Running the validator's checks on the test plug-ins from the build's folder.
#ifndef VX_TESTS_VALIDATE_SUPPORT_H
#define VX_TESTS_VALIDATE_SUPPORT_H

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "TestPlugins.h"
#include "Validator.h"

inline const vxhost::PluginLibrary& Plugin(const std::string& name) { return TestPlugin(name); }

inline vxhost::ValidationReport RunChecks(const std::string& plugin, std::vector<std::string> checks, int level,
                                          uint64_t seed = 7, double time_limit = 120.0) {
    vxhost::ValidationOptions options;
    options.level = level;
    options.seed = seed;
    options.only = std::move(checks);
    options.time_limit_seconds = time_limit;
    return vxhost::Validate(Plugin(plugin), options);
}

inline vxhost::CheckResult RunCheck(const std::string& plugin, const std::string& check, int level, uint64_t seed = 7,
                                    double time_limit = 120.0) {
    return RunChecks(plugin, {check}, level, seed, time_limit).checks.at(0);
}

inline std::string Reasons(const vxhost::CheckResult& result) {
    std::string text;
    for (const std::string& r : result.reasons) text += "\n  " + r;
    return text;
}

inline bool Mentions(const vxhost::CheckResult& result, const std::string& words) {
    for (const std::string& r : result.reasons)
        if (r.find(words) != std::string::npos) return true;
    return false;
}

#endif
