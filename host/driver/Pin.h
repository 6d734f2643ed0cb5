// A pin as the host reads it from the module's description: its name,
// which way it runs, what it carries, and the value the host starts it with.
#ifndef VXHOST_PIN_H
#define VXHOST_PIN_H

#include <cstdint>
#include <string>

#include "VXHostAbi.h"

namespace vxhost {

enum class PinDirection { Input, Output };

// Audio pins carry a buffer of samples per block; value pins carry one
// number written into the module (choices, switches, numbers).
enum class PinKind { Audio, Value, Other };

struct NodePin {
    std::string name;
    PinDirection direction = PinDirection::Input;
    PinKind kind = PinKind::Audio;
    int32_t datatype = DT_FSAMPLE;
    bool is_setting = false;     // a setting of the module rather than an input
    std::string default_text;    // as the module describes it
    std::string choices;         // "label=value,..." for a choice pin
    double default_value = 0.0;  // the sample value or setting value the host starts with
};

}  // namespace vxhost

#endif  // VXHOST_PIN_H
