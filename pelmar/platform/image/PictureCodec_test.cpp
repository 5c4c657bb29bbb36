#include "pelmar/platform/image/PictureCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/image/testing/PeakMemory.h"

namespace pelmar::image {
namespace {

// A bitmap filled with one colour given as R, G, B bytes, in `format`.
std::shared_ptr<Bitmap> filled(int width, int height, PixelFormat format, const uint8_t rgb[3]) {
    auto bitmap = Bitmap::create(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap->row(y) + x * 4;
            const bool bgr = format == PixelFormat::BGRA8;
            p[0] = bgr ? rgb[2] : rgb[0];
            p[1] = rgb[1];
            p[2] = bgr ? rgb[0] : rgb[2];
            p[3] = 0xFF;
        }
    }
    return bitmap;
}

TEST(PictureCodecTest, AGifScreenWithoutAFrameTakesNoMemory) {
    // 15 bytes: a 4352 x 13320 screen (58 megapixels) with no colour table, and an image
    // separator whose descriptor never comes.
    const std::string gif("GIF89a\x00\x11\x08\x34\x00\x00\x00\x2C\x00", 15);
    std::shared_ptr<Bitmap> decoded;
    const auto growth = test::peakMemoryGrowth([&] { decoded = PictureCodec::decode(gif); });
    if (!growth) {
        GTEST_SKIP() << "the peak resident memory cannot be reset here";
    }
    EXPECT_FALSE(decoded);
    EXPECT_LT(*growth, 16 << 20) << "bytes taken for a screen with nothing on it";
}

TEST(PictureCodecTest, EncodedJPEGDecodesToTheSameSizeAndColourFromEitherByteOrder) {
    const uint8_t red[3] = {0xC8, 0x20, 0x20};
    for (PixelFormat format : {PixelFormat::RGBA8, PixelFormat::BGRA8}) {
        SCOPED_TRACE(format == PixelFormat::RGBA8 ? "RGBA" : "BGRA");
        const auto source = filled(64, 32, format, red);
        const auto [jpeg, error] = PictureCodec::encodeJPEG(*source, 0.9);
        ASSERT_FALSE(error) << *error;
        ASSERT_TRUE(jpeg);
        const auto decoded = PictureCodec::decode(*jpeg);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width(), 64);
        EXPECT_EQ(decoded->height(), 32);
        EXPECT_EQ(decoded->format(), PixelFormat::RGBA8);
        EXPECT_TRUE(decoded->opaque());
        const uint8_t* p = decoded->pixel(10, 10);
        EXPECT_NEAR(p[0], 0xC8, 8);
        EXPECT_NEAR(p[1], 0x20, 8);
        EXPECT_NEAR(p[2], 0x20, 8);
    }
}

TEST(PictureCodecTest, RefusesWhatItCannotRead) {
    for (const std::string& bytes :
         {std::string(), std::string("not a picture"), std::string("\xFF\xD8\xFF\xE0 truncated"),
          std::string("\x89PNG\r\n\x1a\n truncated", 18), std::string("GIF89a....")}) {
        EXPECT_FALSE(PictureCodec::decode(bytes));
    }
}

class PictureCodecOrientationTest : public ::testing::TestWithParam<test::StoredOrientation> {};

TEST_P(PictureCodecOrientationTest, JPEGAndPNGComeOutUpright) {
    const auto& c = GetParam();
    const auto stored = test::storedQuadrants(c, 64, 48);

    const struct {
        const char* name;
        std::string bytes;
    } files[] = {{"jpeg", test::withExifOrientation(test::jpeg(*stored, 95), c.exif)},
                 {"png", test::pngWithExifOrientation(test::png(*stored), c.exif, true)}};

    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const auto decoded = PictureCodec::decode(file.bytes);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width(), 64);
        EXPECT_EQ(decoded->height(), 48);
        EXPECT_EQ(decoded->orientation(), Orientation::Up);
        EXPECT_EQ(test::quadrantMismatch(*decoded, test::kUprightQuadrants), "");
    }
}

INSTANTIATE_TEST_SUITE_P(AllEight,
                         PictureCodecOrientationTest,
                         ::testing::ValuesIn(test::kStoredOrientations),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace pelmar::image
