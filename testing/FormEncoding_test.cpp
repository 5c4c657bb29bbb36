#include "testing/FormEncoding.h"

#include <gtest/gtest.h>

namespace pelmar::test {
namespace {

TEST(FormEncodingTest, DecodesPercentEscapesAndRefusesBrokenOnes) {
    struct Case {
        const char* name;
        const char* text;
        bool plusIsSpace;
        std::optional<std::string> decoded;
    };

    const Case cases[] = {
            {"plain", "abc", false, "abc"},
            {"escapes either case", "%7B%22a%22%3a%7d", false, "{\"a\":}"},
            {"plus kept outside forms", "a+b", false, "a+b"},
            {"plus is a blank in forms", "a+b", true, "a b"},
            {"escaped plus", "a%2Bb", true, "a+b"},
            {"nul byte", "%00", false, std::string(1, '\0')},
            {"truncated escape", "a%4", false, std::nullopt},
            {"escape at end", "a%", false, std::nullopt},
            {"non-hex escape", "%zz", false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(percentDecode(c.text, c.plusIsSpace), c.decoded);
    }
}

TEST(FormEncodingTest, ParsesFormListsInOrder) {
    EXPECT_EQ(parseForm("b=2&a=1&b=3&"), (FieldList{{"b", "2"}, {"a", "1"}, {"b", "3"}}));
    EXPECT_EQ(parseForm(""), FieldList{});
    EXPECT_EQ(parseForm("&&flag&k=&=v"), (FieldList{{"flag", ""}, {"k", ""}, {"", "v"}}));
    EXPECT_EQ(parseForm("title=Tom%20%26%20Jerry&x=a%3Db"),
              (FieldList{{"title", "Tom & Jerry"}, {"x", "a=b"}}));
    EXPECT_EQ(parseForm("k=%G0"), std::nullopt);
}

}  // namespace
}  // namespace pelmar::test
