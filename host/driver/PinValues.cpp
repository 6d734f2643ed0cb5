#include "PinValues.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace vxhost {

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

bool InRange(double value, double low, double high) { return value >= low && value <= high; }

std::string ChoiceList(const std::vector<Choice>& choices) {
    std::string list;
    for (const Choice& c : choices) {
        if (!list.empty()) list += ", ";
        list += c.label + "=" + std::to_string(c.value);
    }
    return list;
}

}  // namespace

std::vector<Choice> ParseChoices(const std::string& text) {
    std::vector<Choice> choices;
    std::stringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        const size_t equals = entry.rfind('=');
        if (equals == std::string::npos) continue;
        double value = 0.0;
        if (!ParseNumber(Trim(entry.substr(equals + 1)), &value) || value != std::floor(value) ||
            !InRange(value, INT16_MIN, INT16_MAX))
            continue;
        choices.push_back({Trim(entry.substr(0, equals)), static_cast<int>(value)});
    }
    return choices;
}

bool ParseNumber(const std::string& text, double* value) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return false;
    // Only decimal notation: strtod would also take "inf", "nan" and hex.
    for (char c : trimmed)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(trimmed.c_str(), &end);
    if (end != trimmed.c_str() + trimmed.size() || errno == ERANGE || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

bool ParsePinValue(const NodePin& pin, const std::string& raw, double* value, std::string* error) {
    const std::string text = Trim(raw);
    double number = 0.0;
    switch (pin.kind == PinKind::Audio ? DT_FSAMPLE : pin.datatype) {
        case DT_FSAMPLE:
            if (ParseNumber(text, &number)) break;
            if (text.size() > 1 && (text.back() == 'V' || text.back() == 'v') &&
                ParseNumber(text.substr(0, text.size() - 1), &number)) {
                number /= kVoltsPerUnit;
                break;
            }
            *error = "\"" + text + "\" is not a number (a sample value like 0.5, or volts like 5V)";
            return false;
        case DT_ENUM: {
            const std::vector<Choice> choices = ParseChoices(pin.choices);
            for (const Choice& c : choices)
                if (Lower(c.label) == Lower(text)) {
                    *value = c.value;
                    return true;
                }
            // A pin with a list takes only what the list offers, by label or by
            // value; one without takes any whole number of the choice range.
            if (ParseNumber(text, &number) && number == std::floor(number) && InRange(number, INT16_MIN, INT16_MAX)) {
                if (choices.empty()) break;
                for (const Choice& c : choices)
                    if (c.value == number) {
                        *value = number;
                        return true;
                    }
            }
            *error = "\"" + text + "\" is not a choice of " + pin.name +
                     (choices.empty() ? " (a whole number from -32768 to 32767)" : " (" + ChoiceList(choices) + ")");
            return false;
        }
        case DT_BOOL: {
            const std::string word = Lower(text);
            if (word == "true" || word == "on" || word == "yes" || word == "1")
                number = 1.0;
            else if (word == "false" || word == "off" || word == "no" || word == "0")
                number = 0.0;
            else {
                *error = "\"" + text + "\" is not a switch value (true or false)";
                return false;
            }
            break;
        }
        case DT_INT:
            if (ParseNumber(text, &number) && number == std::floor(number) && InRange(number, INT32_MIN, INT32_MAX))
                break;
            *error = "\"" + text + "\" is not a whole number in the 32-bit range";
            return false;
        case DT_FLOAT:
            if (ParseNumber(text, &number) && std::fabs(number) <= 3.4028234663852886e38) break;
            *error = "\"" + text + "\" is not a number";
            return false;
        default:
            *error = pin.name + " takes no value";
            return false;
    }
    *value = number;
    return true;
}

double DefaultValue(const NodePin& pin) {
    if (pin.direction == PinDirection::Output) return 0.0;
    double value = 0.0;
    if (pin.kind == PinKind::Audio) {
        // Defaults are written in volts whether or not they carry the unit.
        std::string text = Trim(pin.default_text);
        if (!text.empty() && (text.back() == 'V' || text.back() == 'v')) text.pop_back();
        return ParseNumber(text, &value) ? value / kVoltsPerUnit : 0.0;
    }
    std::string ignored;
    return ParsePinValue(pin, pin.default_text, &value, &ignored) ? value : 0.0;
}

std::string TypeName(const NodePin& pin) {
    if (pin.kind == PinKind::Audio) return "audio";
    switch (pin.datatype) {
        case DT_ENUM:
            return "choice";
        case DT_BOOL:
            return "switch";
        case DT_FLOAT:
            return "number";
        case DT_INT:
            return "integer";
        default:
            return "type " + std::to_string(pin.datatype);
    }
}

std::string FormatPinValue(const NodePin& pin, double value) {
    if (pin.kind == PinKind::Value && pin.datatype == DT_ENUM) {
        for (const Choice& c : ParseChoices(pin.choices))
            if (c.value == value) return c.label;
    }
    if (pin.kind == PinKind::Value && pin.datatype == DT_BOOL) return value != 0.0 ? "true" : "false";
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace vxhost
