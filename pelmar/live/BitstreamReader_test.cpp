#include "pelmar/live/BitstreamReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Hex;
using ::testing::ElementsAre;

TEST(BitstreamReaderTest, GetBitsReadsMostSignificantBitFirst) {
    struct Case {
        const char* name;
        const char* bytes;
        std::vector<uint8_t> counts;
        std::vector<uint64_t> expected;
    };

    const Case cases[] = {
            {"two plus six bits", "C5", {2, 6}, {3, 5}},
            {"24 bits big-endian", "12 34 56", {24}, {0x123456}},
            {"double 1.0", "3F F0 00 00 00 00 00 00", {64}, {std::bit_cast<uint64_t>(1.0)}},
            {"fields across byte borders", "3F F0", {3, 9, 4}, {1, 0x1FF, 0}},
            {"zero count reads nothing", "AB", {0, 8}, {0, 0xAB}},
            {"past the end gives zeros", "FF", {4, 16}, {0xF, 0xF000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Hex(c.bytes);
        BitstreamReader reader(bytes);
        std::vector<uint64_t> values;
        for (const uint8_t count : c.counts) {
            values.push_back(reader.GetBits(count));
        }
        EXPECT_EQ(values, c.expected);
    }
}

TEST(BitstreamReaderTest, ByteOperationsRefuseUnreadBits) {
    const auto bytes = Hex("C5 01 02");
    BitstreamReader reader(bytes);
    EXPECT_EQ(reader.GetBits(2), 3u);
    try {
        reader.GetByte();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "bitstream reader is not aligned");
    }
    std::array<uint8_t, 2> out{};
    EXPECT_THAT([&] { reader.GetBytes(out.begin(), 2); },
                test::ThrowsWithText("bitstream reader is not aligned"));
    EXPECT_EQ(reader.Position(), 1u);
    EXPECT_EQ(reader.GetBits(6), 5u);
    EXPECT_EQ(reader.GetByte(), 1);
}

TEST(BitstreamReaderTest, ReadsAtTheEndGiveZerosWithoutMoving) {
    const auto bytes = Hex("01 02 03");
    BitstreamReader reader(bytes);
    reader.Skip(5);
    EXPECT_EQ(reader.Position(), 3u);
    EXPECT_EQ(reader.GetByte(), 0);
    EXPECT_EQ(reader.GetBits(16), 0u);
    EXPECT_EQ(reader.RemainingDataSize(), 0u);
    EXPECT_EQ(reader.Position(), 3u);
}

TEST(BitstreamReaderTest, GetBytesCopiesWhatIsLeftAndStopsAtTheEnd) {
    const auto bytes = Hex("01 02 03 04 05");
    BitstreamReader reader(bytes);
    reader.SetPosition(2);
    std::array<uint8_t, 8> out{};
    out.fill(0xEE);
    reader.GetBytes(out.begin(), out.size());
    EXPECT_THAT(out, ElementsAre(3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE));
    EXPECT_EQ(reader.Position(), 5u);

    reader.SetPosition(100);
    EXPECT_EQ(reader.Position(), 5u);
}

TEST(BitstreamReaderTest, RefusesBitCountsAbove64) {
    const auto bytes = Hex("01");
    BitstreamReader reader(bytes);
    EXPECT_THAT([&] { reader.GetBits(65); }, test::ThrowsWithText("bit count above 64"));
    EXPECT_EQ(reader.GetByte(), 1);
}

}  // namespace
}  // namespace pelmar::live
