#include "pelmar/core/StringConversions.h"

#include <gtest/gtest.h>

#include <string_view>

namespace pelmar {
namespace {

TEST(StringConversionsTest, ToIntParsesOnlyWholeSignedDecimals) {
    struct Case {
        std::string_view text;
        int64_t expected;
    };

    const Case cases[] = {
            {"42", 42},
            {"-42", -42},
            {"+42", 42},
            {"0", 0},
            {"9223372036854775807", 9223372036854775807},
            {"-9223372036854775808", INT64_MIN},
            {"9223372036854775808", 0},  // overflow
            {" 42", 0},
            {"42 ", 0},
            {"42.5", 0},
            {"", 0},
            {"+", 0},
            {"-", 0},
            {"+-5", 0},
            {"abc", 0},
            {"4a", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(toInt(c.text), c.expected);
    }
}

TEST(StringConversionsTest, ToDoubleKeepsOnlyDigitsAndPoints) {
    struct Case {
        std::string_view text;
        double expected;
    };

    const Case cases[] = {
            {"2.5", 2.5},  {"-2.5", 2.5},  // the sign is dropped before parsing
            {"1,5", 15.0}, {"1.2.3", 0.0}, {"abc", 0.0},  {"", 0.0},       {".", 0.0},
            {"12.", 12.0}, {".5", 0.5},    {"1e3", 13.0}, {"1:30", 130.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(toDouble(c.text), c.expected);
        EXPECT_FLOAT_EQ(toFloat(c.text), static_cast<float>(c.expected));
    }
}

}  // namespace
}  // namespace pelmar
