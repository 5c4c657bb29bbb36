#include "pelmar/platform/image/Bitmap.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelmar::image {
namespace {

TEST(BitmapTest, RefusesSizesOutsideTheCaps) {
    struct Case {
        const char* name;
        int width;
        int height;
    };

    const Case cases[] = {
            {"zero width", 0, 10},
            {"negative height", 10, -1},
            {"side over the cap", Bitmap::kMaxDimension + 1, 1},
            {"pixels over the cap", 16384, 8193},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Bitmap::create(c.width, c.height), nullptr);
    }
    EXPECT_EQ(Bitmap::create(4, 4, {.scale = 0}), nullptr);
}

TEST(BitmapTest, PacksRowsByFormatAndAddressesPixels) {
    auto gray = Bitmap::create(3, 2, PixelFormat::Gray8);
    ASSERT_NE(gray, nullptr);
    EXPECT_EQ(gray->stride(), 3u);
    EXPECT_EQ(gray->byteCount(), 6u);

    auto rgba = Bitmap::create(3, 2, PixelFormat::RGBA8);
    ASSERT_NE(rgba, nullptr);
    EXPECT_EQ(rgba->stride(), 12u);
    rgba->row(1)[2 * 4 + 3] = 7;
    EXPECT_EQ(rgba->pixel(2, 1)[3], 7);
}

TEST(BitmapTest, WrapKeepsTheOwnerAliveAndChecksTheStride) {
    auto storage = std::make_shared<std::vector<uint8_t>>(2 * 16, 0);
    std::weak_ptr<std::vector<uint8_t>> weak = storage;
    EXPECT_EQ(Bitmap::wrap(4, 2, 15, {}, storage->data(), storage), nullptr);
    auto bitmap = Bitmap::wrap(3, 2, 16, {.format = PixelFormat::BGRA8}, storage->data(), storage);
    ASSERT_NE(bitmap, nullptr);
    storage.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(bitmap->pixel(0, 1), bitmap->data() + 16);
    bitmap.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(BitmapTest, PointSizeFollowsScaleAndQuarterTurns) {
    auto bitmap = Bitmap::create(200, 100, {.scale = 2.0, .orientation = Orientation::Right});
    ASSERT_NE(bitmap, nullptr);
    EXPECT_DOUBLE_EQ(bitmap->pointWidth(), 50);
    EXPECT_DOUBLE_EQ(bitmap->pointHeight(), 100);
    bitmap->setOrientation(Orientation::DownMirrored);
    EXPECT_DOUBLE_EQ(bitmap->pointWidth(), 100);
}

}  // namespace
}  // namespace pelmar::image
