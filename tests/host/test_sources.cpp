// How people's texts become values and signals: the source syntax with the
// column of a mistake, and values read against the pin they feed.
#include <gtest/gtest.h>

#include "PinValues.h"
#include "SourceSyntax.h"

using namespace vxhost;

namespace {

size_t ErrorColumn(const std::string& text) {
    try {
        ParseSource(text);
    } catch (const SourceError& e) {
        return e.Column();
    }
    return 0;
}

NodePin PinOf(PinKind kind, int32_t datatype, const std::string& choices = "") {
    NodePin pin;
    pin.name = "P";
    pin.kind = kind;
    pin.datatype = datatype;
    pin.choices = choices;
    return pin;
}

}  // namespace

TEST(Sources, StepListsKeepTheirOrderAndPointAtTheirMistakes) {
    const ParsedSource steps = ParseSource(" 0:1, 0.5 : 2-Sided ,2:0");
    ASSERT_EQ(steps.kind, ParsedSource::Kind::Steps);
    ASSERT_EQ(steps.steps.size(), 3u);
    EXPECT_EQ(steps.steps[1].seconds, 0.5);
    EXPECT_EQ(steps.steps[1].value, "2-Sided");
    EXPECT_EQ(steps.steps[1].column, 13u);

    EXPECT_EQ(ParseSource("take.wav").kind, ParsedSource::Kind::Single);
    EXPECT_EQ(ParseSource("C:/takes/a.wav").kind, ParsedSource::Kind::Single) << "a drive letter is no step";
    EXPECT_EQ(ErrorColumn("0:1,0.5"), 5u);
    EXPECT_EQ(ErrorColumn("0:1,"), 5u);
    EXPECT_EQ(ErrorColumn("0:1,-1:0"), 5u);
    EXPECT_EQ(ErrorColumn("1:1,0.5:0"), 5u) << "times must not go back";
    EXPECT_EQ(ErrorColumn("0:1,1:"), 7u);
    EXPECT_EQ(ErrorColumn("   "), 1u);
}

TEST(Sources, ValuesAreReadAgainstThePinTheyFeed) {
    double value = 0.0;
    std::string error;
    const NodePin audio = PinOf(PinKind::Audio, DT_FSAMPLE);
    EXPECT_TRUE(ParsePinValue(audio, "5V", &value, &error));
    EXPECT_EQ(value, 0.5);
    EXPECT_FALSE(ParsePinValue(audio, "nan", &value, &error));
    EXPECT_FALSE(ParsePinValue(audio, "1e999", &value, &error));
    EXPECT_FALSE(ParsePinValue(audio, "0x10", &value, &error));

    const NodePin choice = PinOf(PinKind::Value, DT_ENUM, "1-Sided=1,2-Sided=2");
    EXPECT_TRUE(ParsePinValue(choice, "2-sided", &value, &error));
    EXPECT_EQ(value, 2.0);
    EXPECT_TRUE(ParsePinValue(choice, "1", &value, &error)) << "a listed value by number";
    EXPECT_FALSE(ParsePinValue(choice, "7", &value, &error)) << "only what the list offers";
    EXPECT_FALSE(ParsePinValue(choice, "0", &value, &error));
    const NodePin unlisted = PinOf(PinKind::Value, DT_ENUM, "");
    EXPECT_TRUE(ParsePinValue(unlisted, "7", &value, &error)) << "without a list, any whole number of the range";
    EXPECT_FALSE(ParsePinValue(choice, "40000", &value, &error)) << "beyond 16 bits";
    EXPECT_FALSE(ParsePinValue(choice, "1.5", &value, &error));

    const NodePin integer = PinOf(PinKind::Value, DT_INT);
    EXPECT_FALSE(ParsePinValue(integer, "2147483648", &value, &error));
    EXPECT_TRUE(ParsePinValue(integer, "-2147483648", &value, &error));
    const NodePin number = PinOf(PinKind::Value, DT_FLOAT);
    EXPECT_FALSE(ParsePinValue(number, "1e39", &value, &error)) << "beyond single precision";
    const NodePin flag = PinOf(PinKind::Value, DT_BOOL);
    EXPECT_TRUE(ParsePinValue(flag, "On", &value, &error));
    EXPECT_EQ(value, 1.0);

    NodePin defaulted = audio;
    defaulted.default_text = "7";
    EXPECT_DOUBLE_EQ(DefaultValue(defaulted), 0.7) << "audio defaults are volts";
    defaulted.default_text = "rubbish";
    EXPECT_EQ(DefaultValue(defaulted), 0.0);
}
