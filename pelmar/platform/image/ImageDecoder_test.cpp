#include "pelmar/platform/image/ImageDecoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "pelmar/platform/image/ExifReader.h"
#include "pelmar/platform/image/ImageEncoder.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/image/testing/PeakMemory.h"

namespace pelmar::image {
namespace {

using test::Colour;

using test::kBlue;
using test::kGreen;
using test::kRed;
using test::kWhite;

// Checks the colour at the middle of each quadrant (JPEG is lossy: within 40 per channel).
void expectQuadrants(const Bitmap& bitmap, const std::array<Colour, 4>& expected) {
    EXPECT_EQ(test::quadrantMismatch(bitmap, expected), "");
}

class ImageDecoderOrientationTest : public ::testing::TestWithParam<test::StoredOrientation> {};

TEST_P(ImageDecoderOrientationTest, TurnsStoredPixelsUpright) {
    const auto& c = GetParam();
    const auto stored = test::storedQuadrants(c, 64, 32);
    const int w = stored->width();
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        const auto data = test::withExifOrientation(test::jpeg(*stored), c.exif, bigEndian);
        EXPECT_EQ(ExifReader::orientationFromJPEG(data), c.exif);

        const auto result = ImageDecoder::decode(data);
        ASSERT_TRUE(result.bitmap) << *result.error;
        EXPECT_EQ(result.bitmap->width(), 64);
        EXPECT_EQ(result.bitmap->height(), 32);
        EXPECT_EQ(result.bitmap->orientation(), Orientation::Up);
        expectQuadrants(*result.bitmap, test::kUprightQuadrants);

        const auto kept = ImageDecoder::decode(data, {.applyOrientation = false});
        ASSERT_TRUE(kept.bitmap);
        EXPECT_EQ(kept.bitmap->width(), w);
        EXPECT_EQ(static_cast<int>(kept.bitmap->orientation()), c.exif);
        expectQuadrants(*kept.bitmap, c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(AllEight,
                         ImageDecoderOrientationTest,
                         ::testing::ValuesIn(test::kStoredOrientations),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ImageDecoderTest, OrientationOutsideTheExifRangeMeansUp) {
    const auto stored = test::quadrants(64, 32, kRed, kGreen, kBlue, kWhite);
    for (int value : {0, 9, 255}) {
        SCOPED_TRACE(value);
        const auto result =
                ImageDecoder::decode(test::withExifOrientation(test::jpeg(*stored), value));
        ASSERT_TRUE(result.bitmap);
        EXPECT_EQ(result.bitmap->orientation(), Orientation::Up);
        expectQuadrants(*result.bitmap, {kRed, kGreen, kBlue, kWhite});
    }
}

TEST(ImageDecoderTest, RefusesBombHeadersWithoutDecoding) {
    const auto small = test::photo(64, 64);
    const std::string jpegBomb = test::jpegClaimingSize(test::jpeg(*small), 50000, 50000);
    const std::string pngBomb = test::pngClaimingSize(test::png(*small), 50000, 50000);
    std::vector<uint8_t> indexes(64 * 64, 1);
    const std::string gifBomb =
            test::gif(65535, 65535, {{0, 0, 0}, {255, 255, 255}}, {{0, 0, 64, 64, indexes}});
    // A frame far larger than the cap is refused even though its screen is small.
    std::string frameBomb =
            test::gif(64, 64, {{0, 0, 0}, {255, 255, 255}}, {{0, 0, 64, 64, indexes}});
    const auto descriptor = frameBomb.find('\x2C');
    frameBomb[descriptor + 5] = frameBomb[descriptor + 6] = '\xFF';
    frameBomb[descriptor + 7] = frameBomb[descriptor + 8] = '\xFF';

    const struct {
        const char* name;
        std::string data;
    } cases[] = {{"jpeg", jpegBomb}, {"png", pngBomb}, {"gif", gifBomb}, {"gifFrame", frameBomb}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ImageDecoder::decode(c.data);
        EXPECT_FALSE(result.bitmap);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->domain, kImageDecodeErrorDomain);
        EXPECT_EQ(result.error->code, kImageDecodeErrorTooLarge);
    }
    // The cap is the caller's to lower.
    const auto capped = ImageDecoder::decode(test::jpeg(*small), {.maxPixels = 64 * 63});
    EXPECT_EQ(capped.error->code, kImageDecodeErrorTooLarge);
    EXPECT_TRUE(ImageDecoder::decode(test::jpeg(*small), {.maxPixels = 64 * 64}).bitmap);
}

TEST(ImageDecoderTest, AGifFrameWithoutItsPictureTakesNoMemoryForTheScreen) {
    // A 1 x 1 frame on a 4352 x 13320 screen, cut after its descriptor and code size.
    std::string gif = test::gif(4352, 13320, {{0, 0, 0}, {255, 255, 255}}, {{0, 0, 1, 1, {1}}});
    gif.resize(gif.find('\x2C') + 11);
    ImageDecoder::Result result;
    const auto growth = test::peakMemoryGrowth([&] { result = ImageDecoder::decode(gif); });
    if (!growth) {
        GTEST_SKIP() << "the peak resident memory cannot be reset here";
    }
    EXPECT_FALSE(result.bitmap);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, kImageDecodeErrorCorrupt);
    EXPECT_LT(*growth, 16 << 20) << "bytes taken for a screen with nothing on it";
}

TEST(ImageDecoderTest, RefusesDataThatIsNotAnImage) {
    const std::string jpeg = test::jpeg(*test::photo(16, 16));
    const std::string png = test::png(*test::photo(16, 16));

    const struct {
        const char* name;
        std::string data;
    } cases[] = {
            {"empty", ""},
            {"text", "<html>not found</html>"},
            {"jpegMarkerOnly", "\xFF\xD8\xFF"},
            {"jpegHeaderCut", jpeg.substr(0, 40)},
            {"pngSignatureOnly", png.substr(0, 8)},
            {"pngHeaderCut", png.substr(0, 20)},
            {"gifSignatureOnly", "GIF89a"},
            {"gifZeroScreen", std::string("GIF89a\0\0\0\0\0\0\0", 13)},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ImageDecoder::decode(c.data);
        EXPECT_FALSE(result.bitmap);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->code, kImageDecodeErrorNotAnImage);
    }
    const auto cut = ImageDecoder::decode(png.substr(0, png.size() / 2));
    EXPECT_FALSE(cut.bitmap);
    EXPECT_EQ(cut.error->code, kImageDecodeErrorCorrupt);
}

TEST(ImageDecoderTest, AlphaIsPremultipliedAndOpaqueImagesGetFullAlpha) {
    // Straight-alpha PNG: one pixel half-transparent red, one transparent, one opaque blue.
    auto straight = Bitmap::create(3, 1, {.format = PixelFormat::RGBA8, .premultiplied = false});
    const uint8_t pixels[] = {255, 0, 0, 128, 10, 20, 30, 0, 0, 0, 255, 255};
    std::memcpy(straight->data(), pixels, sizeof pixels);
    const auto withAlpha = ImageDecoder::decode(*ImageEncoder::encodePNG(*straight));
    ASSERT_TRUE(withAlpha.bitmap);
    EXPECT_FALSE(withAlpha.bitmap->opaque());
    EXPECT_TRUE(withAlpha.bitmap->premultiplied());
    EXPECT_EQ(withAlpha.bitmap->format(), PixelFormat::BGRA8);
    const std::vector<uint8_t> expected = {0, 0, 128, 128, 0, 0, 0, 0, 255, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(withAlpha.bitmap->data(), withAlpha.bitmap->data() + 12),
              expected);

    const auto opaque = ImageDecoder::decode(test::jpeg(*test::photo(8, 8)));
    ASSERT_TRUE(opaque.bitmap);
    EXPECT_TRUE(opaque.bitmap->opaque());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(opaque.bitmap->pixel(x, y)[3], 255);
        }
    }
}

TEST(ImageDecoderTest, GifFrameZeroSitsOnItsScreenClippedWithTransparency) {
    // Screen 4x3; frame 0 of 3x2 at (2, 2) reaches past both edges; index 2 is transparent.
    test::GifFrame frame{2, 2, 3, 2, {0, 2, 1, 1, 1, 1}, 2};
    test::GifFrame second{0, 0, 4, 3, std::vector<uint8_t>(12, 1)};
    const auto data =
            test::gif(4, 3, {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {0, 0, 0}}, {frame, second});
    const auto result = ImageDecoder::decode(data);
    ASSERT_TRUE(result.bitmap) << *result.error;
    const Bitmap& b = *result.bitmap;
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.height(), 3);
    EXPECT_FALSE(b.opaque());
    const auto at = [&](int x, int y) {
        const uint8_t* p = b.pixel(x, y);
        return Colour{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(at(2, 2), (Colour{0, 0, 255, 255}));  // red, index 0
    EXPECT_EQ(at(3, 2), (Colour{0, 0, 0, 0}));      // transparent index
    EXPECT_EQ(at(0, 0), (Colour{0, 0, 0, 0}));      // outside the frame
    EXPECT_EQ(at(1, 2), (Colour{0, 0, 0, 0}));

    // An interlaced frame that covers its screen is opaque and rows land in place.
    std::vector<uint8_t> rows(4 * 9);
    for (int y = 0; y < 9; ++y) {
        std::fill_n(rows.begin() + y * 4, 4, static_cast<uint8_t>(y % 2));
    }
    const auto interlaced = ImageDecoder::decode(
            test::gif(4, 9, {{255, 0, 0}, {0, 0, 255}}, {{0, 0, 4, 9, rows, -1, true}}));
    ASSERT_TRUE(interlaced.bitmap);
    EXPECT_TRUE(interlaced.bitmap->opaque());
    for (int y = 0; y < 9; ++y) {
        EXPECT_EQ(interlaced.bitmap->pixel(1, y)[y % 2 == 0 ? 2 : 0], 255) << "row " << y;
    }
}

TEST(ImageDecoderTest, HeaderReportsSizeAlphaOrientationAndProgressive) {
    const auto picture = test::photo(40, 30);
    const auto progressive =
            ImageDecoder::readHeader(test::withExifOrientation(test::jpeg(*picture, 80, true), 6));
    ASSERT_TRUE(progressive);
    EXPECT_EQ(progressive->format, ImageFormat::JPEG);
    EXPECT_EQ(progressive->width, 40);
    EXPECT_EQ(progressive->height, 30);
    EXPECT_TRUE(progressive->progressive);
    EXPECT_EQ(progressive->exifOrientation, 6);
    EXPECT_FALSE(ImageDecoder::readHeader(test::jpeg(*picture))->progressive);

    const auto png = ImageDecoder::readHeader(test::png(*picture));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->format, ImageFormat::PNG);
    EXPECT_FALSE(png->hasAlpha);
}

TEST(ImageDecoderTest, ScaledJpegDecodingKeepsTheAskedSideAtLeast) {
    const auto data = test::jpeg(*test::photo(800, 400));

    const struct {
        int minimum;
        int width;
    } cases[] = {{0, 800}, {100, 100}, {101, 200}, {400, 400}, {401, 500}, {801, 800}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.minimum);
        const auto result = ImageDecoder::decode(data, {.minimumDimension = c.minimum});
        ASSERT_TRUE(result.bitmap);
        EXPECT_EQ(result.bitmap->width(), c.width);
        EXPECT_EQ(result.bitmap->height(), c.width / 2);
    }
}

TEST(ImageDecoderTest, ScaledPngDecodingKeepsTheAskedSideAtLeast) {
    const auto data = test::png(*test::photo(800, 400));

    const struct {
        int minimum;
        int width;
        int height;
    } cases[] = {{0, 800, 400},   {100, 100, 50},  {101, 115, 58},
                 {400, 400, 200}, {401, 800, 400}, {801, 800, 400}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.minimum);
        const auto result = ImageDecoder::decode(data, {.minimumDimension = c.minimum});
        ASSERT_TRUE(result.bitmap);
        EXPECT_EQ(result.bitmap->width(), c.width);
        EXPECT_EQ(result.bitmap->height(), c.height);
    }
}

TEST(ImageDecoderTest, ScaledPngPixelsAreTheirBoxesAverages) {
    // 5x3 reduced by 2: boxes of 2x2, 1x2 at the right edge, 2x1 at the bottom, 1x1 in the corner.
    auto opaque = Bitmap::create(5, 3, {.opaque = true});
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            uint8_t* p = opaque->row(y) + x * 4;
            p[0] = static_cast<uint8_t>(10 * x);  // red
            p[1] = static_cast<uint8_t>(20 * y);  // green
            p[3] = 255;
        }
    }
    const auto reduced = ImageDecoder::decode(test::png(*opaque), {.minimumDimension = 2});
    ASSERT_TRUE(reduced.bitmap);
    ASSERT_EQ(reduced.bitmap->width(), 3);
    ASSERT_EQ(reduced.bitmap->height(), 2);

    const struct {
        int x, y, red, green;
    } boxes[] = {{0, 0, 5, 10}, {1, 0, 25, 10}, {2, 0, 40, 10}, {0, 1, 5, 40}, {2, 1, 40, 40}};

    for (const auto& b : boxes) {
        SCOPED_TRACE(testing::Message() << b.x << "," << b.y);
        const uint8_t* p = reduced.bitmap->pixel(b.x, b.y);  // BGRA
        EXPECT_EQ(p[2], b.red);
        EXPECT_EQ(p[1], b.green);
        EXPECT_EQ(p[3], 255);
    }

    // Transparent pixels weigh nothing in the colour: averaged premultiplied.
    auto clear = Bitmap::create(2, 1);
    clear->row(0)[0] = 255;
    clear->row(0)[3] = 255;
    const auto half = ImageDecoder::decode(test::png(*clear), {.minimumDimension = 1});
    ASSERT_TRUE(half.bitmap);
    ASSERT_EQ(half.bitmap->width(), 1);
    EXPECT_EQ(half.bitmap->pixel(0, 0)[2], 128);
    EXPECT_EQ(half.bitmap->pixel(0, 0)[3], 128);

    const auto data = test::png(*test::photo(256, 256));
    const auto cut =
            ImageDecoder::decode(data.substr(0, data.size() / 2), {.minimumDimension = 64});
    EXPECT_FALSE(cut.bitmap);
    ASSERT_TRUE(cut.error);
    EXPECT_EQ(cut.error->code, kImageDecodeErrorCorrupt);
}

TEST(ImageDecoderTest, TruncatedProgressiveJpegDecodesWhatArrived) {
    const auto data = test::jpeg(*test::photo(64, 64), 90, true);
    const auto result = ImageDecoder::decode(data.substr(0, data.size() * 2 / 3));
    ASSERT_TRUE(result.bitmap);
    EXPECT_EQ(result.bitmap->width(), 64);
}

}  // namespace
}  // namespace pelmar::image
