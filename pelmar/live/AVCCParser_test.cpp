#include "pelmar/live/AVCCParser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/live/testing/Bytes.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::ToHex;

const std::vector<uint8_t> kSps =
        Hex("67 42 c0 0d d9 01 41 fb 01 10 00 00 03 00 10 00 00 03 03 20 f1 42 a4 80");
const std::vector<uint8_t> kPps = Hex("68 cb 83 cb 20");

std::vector<uint8_t> Length(size_t n) {
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

TEST(AVCCParserTest, ExtractsParameterSetsFromLengthPrefixedUnits) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        size_t sps;
        size_t pps;
    };

    const Case cases[] = {
            {"sps pps idr",
             Concat({Length(kSps.size()), kSps, Length(5), kPps, Length(3), Hex("65 88 84")}), 1,
             1},
            {"zero length passed over", Concat({Length(0), Length(kSps.size()), kSps}), 1, 0},
            {"length beyond the end stops", Concat({Length(5), kPps, Length(99), kSps}), 0, 1},
            {"fewer than four bytes left", Concat({Length(5), kPps, Hex("00 00 01")}), 0, 1},
            {"sps too short to use", Concat({Length(3), Hex("67 42 c0")}), 0, 0},
            {"two of each",
             Concat({Length(kSps.size()), kSps, Length(kSps.size()), kSps, Length(5), kPps,
                     Length(5), kPps}),
             2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AVCCParser parser;
        parser.ExtractSpsPps(Concat({Length(kSps.size()), kSps}));  // replaced by the next scan
        parser.ExtractSpsPps(c.data);
        EXPECT_EQ(parser.SPS().size(), c.sps);
        EXPECT_EQ(parser.PPS().size(), c.pps);
    }
}

TEST(AVCCParserTest, BuildsTheDecoderConfigurationRecord) {
    AVCCParser parser;
    parser.ExtractSpsPps(Concat({Length(kSps.size()), kSps, Length(5), kPps}));
    EXPECT_EQ(ToHex(parser.GetDecoderConfigurationRecord()),
              ToHex(Concat({Hex("01 42 c0 0d ff e1 00 18"), kSps, Hex("01 00 05"), kPps})));
}

TEST(AVCCParserTest, RefusesRecordsItsFieldsCannotHold) {
    struct Case {
        const char* name;
        size_t spsCount;
        size_t ppsCount;
        size_t ppsLength;
        const char* error;
    };

    const Case cases[] = {
            {"no sps", 0, 1, 5, "no sps defined"},
            {"32 sps", 32, 1, 5, "too many sps units"},
            {"256 pps", 1, 256, 5, "too many pps units"},
            {"65536-byte pps", 1, 1, 65536, "parameter set too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> data;
        for (size_t i = 0; i < c.spsCount; ++i) {
            data = Concat({data, Length(kSps.size()), kSps});
        }
        std::vector<uint8_t> pps(c.ppsLength, 0x11);
        pps[0] = 0x68;
        for (size_t i = 0; i < c.ppsCount; ++i) {
            data = Concat({data, Length(pps.size()), pps});
        }
        AVCCParser parser;
        parser.ExtractSpsPps(data);
        try {
            parser.GetDecoderConfigurationRecord();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}

TEST(AVCCParserTest, ReadsThePictureSizeOfAnSps) {
    struct Case {
        const char* name;
        std::vector<uint8_t> sps;
        bool found;
        uint32_t width;
        uint32_t height;
    };

    const Case cases[] = {
            {"baseline 320x240", kSps, true, 320, 240},
            {"high 1920x1080, cropped",
             Hex("67 64 00 28 ac d9 40 78 02 27 e5 c0 44 00 00 03 00 04 00 00 03 00 c8 3c 60 c6 "
                 "58"),
             true, 1920, 1080},
            {"high 4:4:4 176x144",
             Hex("67 f4 00 0b 91 9b 28 58 9d 80 88 00 00 03 00 08 00 00 03 01 90 78 a1 4c b0"),
             true, 176, 144},
            {"truncated", Hex("67 42 c0 0d d9 01"), false, 0, 0},
            {"not an sps", kPps, false, 0, 0},
            {"endless exp-golomb", Hex("67 42 c0 0d 00 00 00 00 00 00 00"), false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto size = AVCCParser::ReadPictureSize(c.sps);
        ASSERT_EQ(size.has_value(), c.found);
        if (size) {
            EXPECT_EQ(size->width, c.width);
            EXPECT_EQ(size->height, c.height);
        }
    }
}

}  // namespace
}  // namespace pelmar::live
