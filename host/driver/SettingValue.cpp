#include "SettingValue.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "VXHostAbi.h"

namespace vxhost {

namespace {

template <typename T>
void Store(void* target, T value) {
    std::memcpy(target, &value, sizeof value);
}

bool Within(double value, double low, double high) { return value >= low && value <= high; }

}  // namespace

bool IsSettingDatatype(int32_t datatype) {
    return datatype == DT_ENUM || datatype == DT_BOOL || datatype == DT_FLOAT || datatype == DT_INT;
}

// A conversion from double to a type that cannot hold the value is
// undefined, so nothing converts before this has said yes.
bool SettingValueFits(int32_t datatype, double value) {
    switch (datatype) {
        case DT_ENUM:
            return Within(value, INT16_MIN, INT16_MAX);
        case DT_INT:
            return Within(value, INT32_MIN, INT32_MAX);
        case DT_FLOAT:
            return !std::isfinite(value) || Within(value, -FLT_MAX, FLT_MAX);
        case DT_BOOL:
            return true;
        default:
            return false;
    }
}

void WriteSettingValue(void* target, int32_t datatype, double value) {
    switch (datatype) {
        case DT_ENUM:
            Store(target, static_cast<int16_t>(value));
            break;
        case DT_INT:
            Store(target, static_cast<int32_t>(value));
            break;
        case DT_FLOAT:
            Store(target, static_cast<float>(value));
            break;
        case DT_BOOL:
            Store(target, value != 0.0);
            break;
        default:
            break;
    }
}

}  // namespace vxhost
