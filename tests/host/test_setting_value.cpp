// Setting values reach the module's member only when its type holds them.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "SettingValue.h"
#include "VXHostAbi.h"

using vxhost::SettingValueFits;
using vxhost::WriteSettingValue;

TEST(SettingValue, OnlyValuesTheMemberHoldsFit) {
    const struct {
        int32_t datatype;
        double value;
        bool fits;
    } kCases[] = {
        {DT_ENUM, 32767.0, true},   {DT_ENUM, -32768.0, true},    {DT_ENUM, 32768.0, false},
        {DT_ENUM, NAN, false},      {DT_INT, 2147483647.0, true}, {DT_INT, 2147483648.0, false},
        {DT_INT, -INFINITY, false}, {DT_FLOAT, FLT_MAX, true},    {DT_FLOAT, 1e39, false},
        {DT_FLOAT, NAN, true},      {DT_FLOAT, -INFINITY, true},  {DT_BOOL, NAN, true},
        {DT_FSAMPLE, 0.0, false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(SettingValueFits(c.datatype, c.value), c.fits) << c.datatype << " " << c.value;
}

TEST(SettingValue, WritesExactlyTheMembersBytes) {
    unsigned char member[8];
    std::memset(member, 0xA5, sizeof member);
    WriteSettingValue(member, DT_ENUM, -2.75);
    int16_t choice;
    std::memcpy(&choice, member, sizeof choice);
    EXPECT_EQ(choice, -2);
    EXPECT_EQ(member[2], 0xA5) << "a choice is two bytes";

    WriteSettingValue(member, DT_BOOL, -0.5);
    EXPECT_EQ(member[0], 1);
    EXPECT_EQ(member[1], 0xFF) << "a bool is one byte: the choice's high byte stays";

    WriteSettingValue(member, DT_FLOAT, 0.1);
    float f;
    std::memcpy(&f, member, sizeof f);
    EXPECT_EQ(f, 0.1f);
}
