// Values of pins as people write them: numbers, choice labels, switches,
// and the default texts that modules give in their pin descriptions.
#ifndef VXHOST_PINVALUES_H
#define VXHOST_PINVALUES_H

#include <string>
#include <utility>
#include <vector>

#include "Pin.h"

namespace vxhost {

// Audio levels are written in the host's volt scale in default texts: ten
// volts are the sample value 1.0.
constexpr double kVoltsPerUnit = 10.0;

struct Choice {
    std::string label;
    int value;
};

// "1-Sided=1,2-Sided=2" -> {{"1-Sided", 1}, {"2-Sided", 2}}; malformed
// entries are skipped.
std::vector<Choice> ParseChoices(const std::string& text);

// A plain decimal number, all of `text`, finite. Nothing else.
bool ParseNumber(const std::string& text, double* value);

// The value a person wrote for `pin`: a number (for audio pins optionally
// in volts, "5V" = 0.5), a choice label, or a switch word (true/false/on/off).
// False with a one-line reason when it does not fit the pin's type or range.
bool ParsePinValue(const NodePin& pin, const std::string& text, double* value, std::string* error);

// The start value of a pin from the module's default text: audio defaults
// are in volts; a text that does not parse gives 0.
double DefaultValue(const NodePin& pin);

// Type name for tables: "audio", "choice", "switch", "number", "integer".
std::string TypeName(const NodePin& pin);

// A value as a person reads it: the choice label, true/false, or the number.
std::string FormatPinValue(const NodePin& pin, double value);

}  // namespace vxhost

#endif  // VXHOST_PINVALUES_H
