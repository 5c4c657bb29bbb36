#include "pelmar/core/JsonReaders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelmar {
namespace {

// One JSON value under "v" read by every reader.
struct Case {
    const char* name;
    const char* valueJson;  // nullptr: the key is missing
    std::string string;
    bool boolean;
    int64_t integer;
    double number;
};

TEST(JsonReadersTest, ReadsEachKindOfValueByTheServiceRules) {
    const Case cases[] = {
            {"missing", nullptr, "", false, 0, 0.0},
            {"null", "null", "", false, 0, 0.0},
            {"null text", R"("<null>")", "", false, 0, 0.0},
            {"YES", R"("YES")", "YES", true, 0, 0.0},
            {"yes", R"("yes")", "yes", false, 0, 0.0},
            {"true text", R"("true")", "true", false, 0, 0.0},
            {"one text", R"("1")", "1", false, 1, 1.0},
            {"JSON true", "true", "", false, 1, 1.0},
            {"JSON false", "false", "", false, 0, 0.0},
            {"42", "42", "", false, 42, 42.0},
            {"42 text", R"("42")", "42", false, 42, 42.0},
            {"-42 text", R"("-42")", "-42", false, -42, 42.0},
            {"42 text with blank", R"(" 42")", " 42", false, 0, 42.0},
            {"42.5 text", R"("42.5")", "42.5", false, 0, 42.5},
            {"42.5", "42.5", "", false, 0, 42.5},
            {"42.0", "42.0", "", false, 42, 42.0},
            {"2.5", "2.5", "", false, 0, 2.5},
            {"-2.5", "-2.5", "", false, 0, -2.5},
            {"1,5 text", R"("1,5")", "1,5", false, 0, 15.0},
            {"1.2.3 text", R"("1.2.3")", "1.2.3", false, 0, 0.0},
            {"abc", R"("abc")", "abc", false, 0, 0.0},
            {"huge unsigned", "18446744073709551615", "", false, 0, 18446744073709551615.0},
            {"huge float", "1e300", "", false, 0, 1e300},
            {"array", R"(["a"])", "", false, 0, 0.0},
            {"object", R"({"a":1})", "", false, 0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json json = Json::object();
        if (c.valueJson != nullptr) {
            json["v"] = Json::parse(c.valueJson);
        }
        EXPECT_EQ(getStringValue(json, "v"), c.string);
        EXPECT_EQ(getBoolValue(json, "v"), c.boolean);
        EXPECT_EQ(getIntValue(json, "v"), c.integer);
        EXPECT_DOUBLE_EQ(getDoubleValue(json, "v"), c.number);
    }
}

TEST(JsonReadersTest, StringArrayNeedsEveryElementToBeAString) {
    const Json json = Json::parse(R"({"ab": ["a", "b"], "numbers": [1, 2], "mixed": ["a", 1],
            "single": "a", "empty": []})");
    EXPECT_EQ(getStringArrayValue(json, "ab"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(getStringArrayValue(json, "numbers").empty());
    EXPECT_TRUE(getStringArrayValue(json, "mixed").empty());
    EXPECT_TRUE(getStringArrayValue(json, "single").empty());
    EXPECT_TRUE(getStringArrayValue(json, "empty").empty());
    EXPECT_TRUE(getStringArrayValue(json, "missing").empty());
}

TEST(JsonReadersTest, NonObjectJsonReadsAsEmpty) {
    for (const char* text : {"null", "[1]", R"("v")", "3"}) {
        SCOPED_TRACE(text);
        const Json json = Json::parse(text);
        EXPECT_EQ(getStringValue(json, "v"), "");
        EXPECT_EQ(getIntValue(json, "v"), 0);
        EXPECT_EQ(getDoubleValue(json, "v"), 0.0);
        EXPECT_TRUE(getStringArrayValue(json, "v").empty());
    }
}

}  // namespace
}  // namespace pelmar
