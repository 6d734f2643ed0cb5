#include "ValidatorJunit.h"

#include <cstdio>

#include "Validator.h"

namespace vxhost {

namespace {

const char* const kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned int low = 0x80, high = 0xBF;  // the second byte's range, narrowed against overlong forms
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    // U+FFFE and U+FFFF are not XML characters either.
    if (length == 3 && lead == 0xEF && byte(at + 1) == 0xBF && byte(at + 2) >= 0xBE) return 0;
    return length;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds >= 0.0 && seconds < 1e9 ? seconds : 0.0);
    return text;
}

std::string Attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + XmlEscape(value) + "\"";
}

std::string JoinedReasons(const CheckResult& result) {
    std::string text;
    for (const std::string& reason : result.reasons) text += (text.empty() ? "" : "\n") + reason;
    return text;
}

std::string TestCase(const std::string& suite, const std::string& name, double seconds, const std::string& inner) {
    std::string xml =
        "    <testcase" + Attribute("name", name) + Attribute("classname", suite) + Attribute("time", Seconds(seconds));
    return xml + (inner.empty() ? "/>\n" : ">\n" + inner + "    </testcase>\n");
}

std::string Suite(const JunitSuite& suite) {
    const std::string& name = suite.name;
    std::string cases;
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    double total = 0.0;
    if (!suite.load_error.empty()) {
        tests = errors = 1;
        cases = TestCase(name, "load", 0.0,
                         "      <error" + Attribute("message", suite.load_error) + Attribute("type", "load") + "/>\n");
    } else {
        for (const CheckInfo& check : AllChecks()) {
            const CheckResult* result = nullptr;
            for (const CheckResult& r : suite.report.checks)
                if (r.name == check.name) result = &r;
            ++tests;
            std::string inner;
            double seconds = 0.0;
            if (result == nullptr) {
                ++skipped;
                const std::string why = check.first_level > suite.report.level
                                            ? "runs from level " + std::to_string(check.first_level)
                                            : std::string("not selected");
                inner = "      <skipped" + Attribute("message", why) + "/>\n";
            } else {
                seconds = result->seconds;
                const std::string reasons = JoinedReasons(*result);
                const std::string first = result->reasons.empty() ? "" : result->reasons.front();
                if (result->status == CheckStatus::Fail) {
                    ++failures;
                    inner = "      <failure" + Attribute("message", first) + Attribute("type", "FAIL") + ">" +
                            XmlEscape(reasons) + "</failure>\n";
                } else if (result->status == CheckStatus::Skip) {
                    ++skipped;
                    inner = "      <skipped" + Attribute("message", first) + "/>\n";
                } else if (!reasons.empty()) {
                    // A warning passes; its reasons go with it for whoever reads the log.
                    inner = "      <system-out>" + XmlEscape("WARN\n" + reasons) + "</system-out>\n";
                }
            }
            total += seconds;
            cases += TestCase(name, check.name, seconds, inner);
        }
    }
    std::string xml = "  <testsuite" + Attribute("name", name) + Attribute("tests", std::to_string(tests)) +
                      Attribute("failures", std::to_string(failures)) + Attribute("errors", std::to_string(errors)) +
                      Attribute("skipped", std::to_string(skipped)) + Attribute("time", Seconds(total)) + ">\n";
    if (suite.load_error.empty()) {
        xml += "    <properties>\n";
        xml += "      <property" + Attribute("name", "path") + Attribute("value", suite.report.plugin) + "/>\n";
        xml += "      <property" + Attribute("name", "level") + Attribute("value", std::to_string(suite.report.level)) +
               "/>\n";
        xml += "      <property" + Attribute("name", "seed") + Attribute("value", std::to_string(suite.report.seed)) +
               "/>\n";
        xml += "    </properties>\n";
    }
    return xml + cases + "  </testsuite>\n";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            // Kept as references so that attribute values keep their line breaks and tabs.
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default: {
                if (c < 0x20) {
                    out += kReplacement;
                    break;
                }
                const size_t length = Utf8Length(text, i);
                if (length == 0) {
                    out += kReplacement;
                    break;
                }
                out.append(text, i, length);
                i += length;
                continue;
            }
        }
        ++i;
    }
    return out;
}

std::string JunitXml(const std::vector<JunitSuite>& suites) {
    int tests = 0, failures = 0, errors = 0;
    std::string body;
    for (const JunitSuite& suite : suites) {
        body += Suite(suite);
        if (!suite.load_error.empty()) {
            ++tests;
            ++errors;
        } else {
            tests += static_cast<int>(AllChecks().size());
            failures += suite.report.Count(CheckStatus::Fail);
        }
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + Attribute("name", "vxhost validate") +
           Attribute("tests", std::to_string(tests)) + Attribute("failures", std::to_string(failures)) +
           Attribute("errors", std::to_string(errors)) + ">\n" + body + "</testsuites>\n";
}

}  // namespace vxhost
