#include "pelmar/live/AMFValue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Hex;
using test::ToHex;

std::vector<uint8_t> Encode(const AMFValue& value) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    value.WriteImpl(writer);
    return bytes;
}

std::shared_ptr<AMFValue> Decode(const std::vector<uint8_t>& bytes, size_t* consumed = nullptr) {
    BitstreamReader reader(bytes);
    auto value = AMFValue::ReadValue(reader);
    if (consumed != nullptr) {
        *consumed = reader.Position();
    }
    return value;
}

std::shared_ptr<AMFValue> ObjectOf(
        std::initializer_list<std::pair<std::string, std::shared_ptr<AMFValue>>> members,
        bool array = false) {
    auto value = array ? AMFValue::Array() : AMFValue::Object();
    auto& object = dynamic_cast<AMFObject&>(*value);
    for (const auto& [name, member] : members) {
        object.AddValue(name, member);
    }
    return value;
}

// `depth` objects nested through the member "a", innermost empty.
std::vector<uint8_t> NestedObjects(int depth) {
    std::vector<uint8_t> bytes;
    for (int i = 1; i < depth; ++i) {
        bytes.insert(bytes.end(), {0x03, 0x00, 0x01, 'a'});
    }
    bytes.insert(bytes.end(), {0x03, 0x00, 0x00, 0x09});
    for (int i = 1; i < depth; ++i) {
        bytes.insert(bytes.end(), {0x00, 0x00, 0x09});
    }
    return bytes;
}

TEST(AMFValueTest, EncodesEveryTypeAndDecodesItBack) {
    struct Case {
        const char* name;
        std::shared_ptr<AMFValue> value;
        AMFType type;
        const char* bytes;
        const char* text;
    };

    const Case cases[] = {
            {"number", AMFValue::Number(1.0), AMFType::Number, "00 3F F0 00 00 00 00 00 00",
             "NUMBER: 1.000000"},
            {"negative number", AMFValue::Number(-2.5), AMFType::Number,
             "00 C0 04 00 00 00 00 00 00", "NUMBER: -2.500000"},
            {"true", AMFValue::Bool(true), AMFType::Boolean, "01 01", "BOOL: true"},
            {"false", AMFValue::Bool(false), AMFType::Boolean, "01 00", "BOOL: false"},
            {"string", AMFValue::String("abc"), AMFType::String, "02 00 03 61 62 63",
             "STRING: abc"},
            {"empty string", AMFValue::String(""), AMFType::String, "02 00 00", "STRING: "},
            {"null", AMFValue::Null(), AMFType::Null, "05", "NULL"},
            {"empty object", AMFValue::Object(), AMFType::Object, "03 00 00 09", "OBJECT: {\n}"},
            {"empty array", AMFValue::Array(), AMFType::EcmaArray, "08 00 00 00 00 00 00 09",
             "ARRAY: {\n}"},
            {"members in byte order of names",
             ObjectOf({{"b", AMFValue::Null()}, {"A", AMFValue::Null()}, {"a", AMFValue::Null()}}),
             AMFType::Object, "03 00 01 41 05 00 01 61 05 00 01 62 05 00 00 09",
             "OBJECT: {\nA NULL\na NULL\nb NULL\n}"},
            {"empty member pointer written as null", ObjectOf({{"x", nullptr}}), AMFType::Object,
             "03 00 01 78 05 00 00 09", "OBJECT: {\nx NULL\n}"},
            {"array with its member count",
             ObjectOf({{"x", AMFValue::String("y")}, {"n", AMFValue::Number(0)}}, true),
             AMFType::EcmaArray,
             "08 00 00 00 02 00 01 6E 00 00 00 00 00 00 00 00 00 00 01 78 02 00 01 79 "
             "00 00 09",
             "ARRAY: {\nn NUMBER: 0.000000\nx STRING: y\n}"},
            {"nested containers",
             ObjectOf({{"a", ObjectOf({{"b", AMFValue::Bool(true)}}, true)}, {"c", ObjectOf({})}}),
             AMFType::Object,
             "03 00 01 61 08 00 00 00 01 00 01 62 01 01 00 00 09 00 01 63 03 00 00 09 "
             "00 00 09",
             "OBJECT: {\na ARRAY: {\nb BOOL: true\n}\nc OBJECT: {\n}\n}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Encode(*c.value);
        EXPECT_EQ(ToHex(bytes), ToHex(Hex(c.bytes)));
        EXPECT_EQ(c.value->ToStringImpl(), c.text);

        size_t consumed = 0;
        const auto decoded = Decode(bytes, &consumed);
        EXPECT_EQ(consumed, bytes.size());
        EXPECT_EQ(decoded->GetTypeImpl(), c.type);
        EXPECT_EQ(ToHex(Encode(*decoded)), ToHex(bytes));
        EXPECT_EQ(decoded->ToStringImpl(), c.text);
    }
}

TEST(AMFValueTest, DecodesWhatPeersSendInLooserForms) {
    struct Case {
        const char* name;
        const char* bytes;
        const char* reencoded;
    };

    const Case cases[] = {
            {"any non-zero byte is true", "01 7F", "01 01"},
            {"undefined reads as null", "06", "05"},
            {"array count is not trusted", "08 00 00 00 07 00 01 61 05 00 01 62 05 00 00 09",
             "08 00 00 00 02 00 01 61 05 00 01 62 05 00 00 09"},
            {"repeated name keeps the last value",
             "03 00 01 61 00 3F F0 00 00 00 00 00 00 00 01 61 05 00 00 09",
             "03 00 01 61 05 00 00 09"},
            {"value ends before trailing bytes", "05 05 05", "05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToHex(Encode(*Decode(Hex(c.bytes)))), ToHex(Hex(c.reencoded)));
    }
}

TEST(AMFValueTest, RefusesMalformedInput) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;
    };

    const Case cases[] = {
            {"reference marker", Hex("04"), "unknown AMF type"},
            {"strict array marker", Hex("07"), "unknown AMF type"},
            {"date marker", Hex("0A 00"), "unknown AMF type"},
            {"highest marker", Hex("FF"), "unknown AMF type"},
            {"empty name without end marker", Hex("03 00 00 05"),
             "empty name found without end object marker"},
            {"nothing at all", {}, "AMF data truncated"},
            {"number cut short", Hex("00 3F F0"), "AMF data truncated"},
            {"boolean without its byte", Hex("01"), "AMF data truncated"},
            {"string longer than the data", Hex("02 00 05 61 62"), "AMF data truncated"},
            {"string length cut short", Hex("02 00"), "AMF data truncated"},
            {"object without members or end", Hex("03"), "AMF data truncated"},
            {"object member without value", Hex("03 00 01 61"), "AMF data truncated"},
            {"object name cut short", Hex("03 00 04 61 62"), "AMF data truncated"},
            {"object end marker missing", Hex("03 00 00"), "AMF data truncated"},
            {"array count cut short", Hex("08 00 00"), "AMF data truncated"},
            {"bad member value", Hex("03 00 01 61 0B 00 00 09"), "unknown AMF type"},
            {"65 nested objects", NestedObjects(65), "AMF nesting too deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT([&] { Decode(c.bytes); }, test::ThrowsWithText(c.error));
    }
}

TEST(AMFValueTest, NestingUpToTheCapRoundTrips) {
    const auto bytes = NestedObjects(AMFValue::kMaxNestingDepth);
    const auto value = Decode(bytes);
    EXPECT_EQ(Encode(*value), bytes);
    EXPECT_NE(value->ToStringImpl().find("OBJECT: {\n}"), std::string::npos);
    // The depth count is per call: a failed decode leaves none behind.
    EXPECT_THAT([&] { Decode(NestedObjects(AMFValue::kMaxNestingDepth + 1)); },
                test::ThrowsWithText("AMF nesting too deep"));
    EXPECT_EQ(Encode(*Decode(bytes)), bytes);
}

TEST(AMFValueTest, WriteRefusesWhatTheFormatCannotCarry) {
    const std::string longest(AMFValue::kMaxStringLength, 'x');
    EXPECT_EQ(Encode(AMFString(longest)).size(), 3 + longest.size());

    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    EXPECT_THAT([&] { AMFString(longest + "x").WriteImpl(writer); },
                test::ThrowsWithText("AMF string too long"));
    EXPECT_TRUE(bytes.empty());

    AMFObject object;
    object.AddValue(longest + "x", AMFValue::Null());
    EXPECT_THAT([&] { object.WriteImpl(writer); }, test::ThrowsWithText("AMF string too long"));

    // A tree that contains itself fails instead of recursing without end.
    auto self = std::make_shared<AMFObject>();
    self->AddValue("self", self);
    EXPECT_THAT([&] { self->WriteImpl(writer); }, test::ThrowsWithText("AMF nesting too deep"));
    EXPECT_THAT([&] { self->ToStringImpl(); }, test::ThrowsWithText("AMF nesting too deep"));
    self->AddValue("self", nullptr);
}

TEST(AMFValueTest, ObjectMembersAreUniqueByName) {
    AMFObject object;
    object.AddValue("a", AMFValue::Number(1));
    object.AddValue("a", AMFValue::String("two"));
    EXPECT_EQ(object.Values().size(), 1u);
    const auto a = std::dynamic_pointer_cast<AMFString>(object.GetValue("a"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Value(), "two");
    EXPECT_EQ(object.GetValue("b"), nullptr);
}

TEST(AMFValueTest, NumbersKeepEveryBitPattern) {
    for (const double value :
         {0.0, -0.0, 1e-310, std::numeric_limits<double>::max(),
          std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        const auto bytes = Encode(AMFNumber(value));
        const auto decoded = std::dynamic_pointer_cast<AMFNumber>(Decode(bytes));
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(std::bit_cast<uint64_t>(decoded->Value()), std::bit_cast<uint64_t>(value));
    }
}

}  // namespace
}  // namespace pelmar::live
