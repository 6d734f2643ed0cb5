// What `vxhost validate` finds: one result per named check, and the log a
// check writes its findings into while it runs.
#ifndef VXHOST_VALIDATORREPORT_H
#define VXHOST_VALIDATORREPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vxhost {

// Warn: a weakness that fails only at higher levels. Skip: the check could
// not run here (for example allocation counting on a platform without it).
enum class CheckStatus { Pass, Warn, Fail, Skip };

const char* StatusName(CheckStatus status);  // "PASS", "WARN", "FAIL", "SKIP"
bool ParseStatusName(const std::string& text, CheckStatus* status);

struct CheckResult {
    std::string name;
    std::string group;
    CheckStatus status = CheckStatus::Pass;
    std::vector<std::string> reasons;  // one line each
    double seconds = 0.0;
};

struct ValidationReport {
    std::string plugin;  // the library's path
    int level = 0;
    uint64_t seed = 0;
    std::vector<CheckResult> checks;

    bool Passed() const;  // no check failed
    int Count(CheckStatus status) const;
};

// Findings of one check. Repeated findings of the same kind are counted
// rather than listed, so a fault that shows on every sample still gives a
// short report. The stage names what the check is doing, so a crash can be
// reported with the step that caused it.
class CheckLog {
public:
    static constexpr size_t kMaxReasons = 6;

    void Fail(const std::string& reason);
    void Warn(const std::string& reason);
    void Skip(const std::string& reason);
    // `kind` groups findings for the count; the first few of a kind are kept.
    void Fail(const std::string& kind, const std::string& reason);

    void Stage(const std::string& stage);
    const std::string& CurrentStage() const { return m_stage; }
    // Called with every new stage (child processes pass it to the parent).
    void SetStageListener(std::function<void(const std::string&)> listener) { m_listener = std::move(listener); }

    bool Failed() const { return m_status == CheckStatus::Fail; }
    CheckStatus Status() const { return m_status; }
    // The reasons, with a closing count of those left out.
    std::vector<std::string> Reasons() const;

private:
    void Add(CheckStatus status, const std::string& kind, const std::string& reason);

    CheckStatus m_status = CheckStatus::Pass;
    struct Kind {
        std::string name;
        size_t count = 0;
    };
    std::vector<Kind> m_kinds;
    std::vector<std::string> m_reasons;
    size_t m_left_out = 0;
    std::string m_stage;
    std::function<void(const std::string&)> m_listener;
};

}  // namespace vxhost

#endif  // VXHOST_VALIDATORREPORT_H
