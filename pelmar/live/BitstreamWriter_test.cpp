#include "pelmar/live/BitstreamWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <utility>

#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Hex;
using test::ToHex;
using ::testing::ElementsAre;

TEST(BitstreamWriterTest, OverwritesFromTheStartUntilSeekToEnd) {
    std::vector<uint8_t> bytes(10, 0xEE);
    BitstreamWriter writer(bytes);
    writer.PutByte(1);
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(writer.Position(), 1u);

    writer.SeekToEnd();
    writer.PutByte(2);
    EXPECT_EQ(bytes.size(), 11u);
    EXPECT_EQ(bytes[10], 2);

    writer.SetPosition(100);
    EXPECT_EQ(writer.Position(), 11u);
}

TEST(BitstreamWriterTest, PutBitsPacksMostSignificantBitFirst) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, uint8_t>> fields;  // value, bit count
        const char* expected;
    };

    const Case cases[] = {
            {"two plus six bits", {{3, 2}, {5, 6}}, "C5"},
            {"24 bits big-endian", {{0x123456, 24}}, "12 34 56"},
            {"high bits of value dropped", {{0xFFF, 4}, {0, 4}}, "F0"},
            {"fields across byte borders", {{1, 3}, {0x1FF, 9}, {0, 4}}, "3F F0"},
            {"zero count writes nothing", {{0xFF, 0}, {0xAB, 8}}, "AB"},
            {"full 64 bits", {{0x0102030405060708, 64}}, "01 02 03 04 05 06 07 08"},
            {"partial byte stays pending", {{0xAB, 8}, {1, 1}}, "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes;
        BitstreamWriter writer(bytes);
        for (const auto& [value, count] : c.fields) {
            writer.PutBits(value, count);
        }
        EXPECT_EQ(ToHex(bytes), ToHex(Hex(c.expected)));
    }
}

TEST(BitstreamWriterTest, ByteOperationsRefusePendingBitsAndKeepState) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    writer.PutBits(1, 1);
    const uint8_t two[] = {1, 2};
    for (auto put : {+[](BitstreamWriter&w, const uint8_t*) { w.PutByte(0); },
                     +[](BitstreamWriter&w, const uint8_t*p) { w.PutBytes(p, p + 2); }}) {
        try {
            put(writer, two);
            FAIL() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "bitstream writer is not aligned");
        }
    }
    EXPECT_TRUE(bytes.empty());

    writer.PutBits(0, 7);
    writer.PutByte(0);
    EXPECT_THAT(bytes, ElementsAre(0x80, 0x00));
}

TEST(BitstreamWriterTest, PutBytesOverwritesThenAppendsInOneStep) {
    std::vector<uint8_t> bytes(10, 0);
    BitstreamWriter writer(bytes);
    writer.SetPosition(8);
    const std::vector<uint8_t> four = Hex("A1 A2 A3 A4");
    writer.PutBytes(four.cbegin(), four.cend());
    EXPECT_EQ(bytes.size(), 12u);
    EXPECT_EQ(writer.Position(), 12u);
    EXPECT_EQ(ToHex(bytes), "00 00 00 00 00 00 00 00 A1 A2 A3 A4");
}

TEST(BitstreamWriterTest, PutBytesTakesEveryIteratorKind) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    const std::array<uint8_t, 4> source = {1, 2, 3, 4};
    writer.PutBytes(std::make_reverse_iterator(source.data() + 4),
                    std::make_reverse_iterator(source.data()));
    const char* text = "ab";
    writer.PutBytes(text, text + 2);
    std::array<char, 1> chars = {'c'};
    writer.PutBytes(chars.data(), chars.data() + 1);
    std::array<uint8_t, 1> raw = {0xFF};
    writer.PutBytes(raw.data(), raw.data() + 1);
    EXPECT_EQ(ToHex(bytes), "04 03 02 01 61 62 63 FF");
}

TEST(BitstreamWriterTest, EveryBitLevelByteGoesThroughTheByteHook) {
    // The network writer relies on this: it sends each byte from the hook.
    class Recording : public BitstreamWriter {
    public:
        using BitstreamWriter::BitstreamWriter;

        void PutByteInternal(uint8_t byte) override { hooked.push_back(byte); }

        std::vector<uint8_t> hooked;
    };

    std::vector<uint8_t> unused;
    Recording writer(unused);
    writer.PutBits(0xABC, 12);
    writer.PutBits(0xD, 4);
    writer.PutByte(0x42);
    EXPECT_THAT(writer.hooked, ElementsAre(0xAB, 0xCD, 0x42));
    EXPECT_TRUE(unused.empty());
}

TEST(BitstreamWriterTest, RefusesBitCountsAbove64) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    EXPECT_THAT([&] { writer.PutBits(0, 65); }, test::ThrowsWithText("bit count above 64"));
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace pelmar::live
