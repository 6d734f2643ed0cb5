// How a host writes a value into a setting's member: an int16 choice, a
// bool, an int32 or a float, by the pin's datatype.
#ifndef VXHOST_SETTINGVALUE_H
#define VXHOST_SETTINGVALUE_H

#include <cstdint>

namespace vxhost {

// Whether pins of this datatype are settings the host writes: DT_ENUM,
// DT_BOOL, DT_FLOAT, DT_INT.
bool IsSettingDatatype(int32_t datatype);

// Whether the member's type holds `value`: integers within their range
// (their fraction dropped), floats within float's range or not finite, any
// value for a bool. False for a datatype that is not a setting's.
bool SettingValueFits(int32_t datatype, double value);

// Writes `value`, which must fit, into the member at `target`: a bool is
// true for any value other than 0.
void WriteSettingValue(void* target, int32_t datatype, double value);

}  // namespace vxhost

#endif  // VXHOST_SETTINGVALUE_H
