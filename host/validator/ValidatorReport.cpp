#include "ValidatorReport.h"

namespace vxhost {

namespace {

// A fault that repeats on every call would otherwise bury the first, most
// telling occurrence under thousands of lines.
constexpr size_t kPerKind = 2;

int Severity(CheckStatus status) {
    switch (status) {
        case CheckStatus::Pass:
            return 0;
        case CheckStatus::Skip:
            return 1;
        case CheckStatus::Warn:
            return 2;
        case CheckStatus::Fail:
            return 3;
    }
    return 0;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

const char* StatusName(CheckStatus status) {
    switch (status) {
        case CheckStatus::Pass:
            return "PASS";
        case CheckStatus::Warn:
            return "WARN";
        case CheckStatus::Fail:
            return "FAIL";
        case CheckStatus::Skip:
            return "SKIP";
    }
    return "FAIL";
}

bool ParseStatusName(const std::string& text, CheckStatus* status) {
    for (CheckStatus s : {CheckStatus::Pass, CheckStatus::Warn, CheckStatus::Fail, CheckStatus::Skip}) {
        if (text == StatusName(s)) {
            *status = s;
            return true;
        }
    }
    return false;
}

bool ValidationReport::Passed() const { return Count(CheckStatus::Fail) == 0; }

int ValidationReport::Count(CheckStatus status) const {
    int n = 0;
    for (const CheckResult& c : checks)
        if (c.status == status) ++n;
    return n;
}

void CheckLog::Fail(const std::string& reason) { Add(CheckStatus::Fail, reason, reason); }
void CheckLog::Warn(const std::string& reason) { Add(CheckStatus::Warn, reason, reason); }
void CheckLog::Skip(const std::string& reason) { Add(CheckStatus::Skip, reason, reason); }
void CheckLog::Fail(const std::string& kind, const std::string& reason) { Add(CheckStatus::Fail, kind, reason); }

void CheckLog::Add(CheckStatus status, const std::string& kind, const std::string& reason) {
    if (Severity(status) > Severity(m_status)) m_status = status;
    Kind* found = nullptr;
    for (Kind& k : m_kinds)
        if (k.name == kind) found = &k;
    if (found == nullptr) {
        m_kinds.push_back({kind, 0});
        found = &m_kinds.back();
    }
    if (++found->count > kPerKind || m_reasons.size() >= kMaxReasons) {
        ++m_left_out;
        return;
    }
    m_reasons.push_back(OneLine(reason));
}

void CheckLog::Stage(const std::string& stage) {
    m_stage = OneLine(stage);
    if (m_listener) m_listener(m_stage);
}

std::vector<std::string> CheckLog::Reasons() const {
    std::vector<std::string> reasons = m_reasons;
    if (m_left_out > 0) reasons.push_back("... and " + std::to_string(m_left_out) + " more like these");
    return reasons;
}

}  // namespace vxhost
