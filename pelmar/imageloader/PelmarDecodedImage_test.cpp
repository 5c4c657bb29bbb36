#include "pelmar/imageloader/PelmarDecodedImage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/imageloader/PelmarRemoteWeakProxy.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/ui/CairoContext.h"
#include "testing/Patience.h"

namespace pelmar {
namespace {

using image::Bitmap;
using image::Orientation;

TEST(PelmarDecodedImageTest, ScaleComesFromTheKey) {
    const struct {
        const char* key;
        double scale;
    } cases[] = {
            {"https://h/a@2x.png", 2.0},
            {"https://h/a_3x.png", 3.0},
            {"https://h/a@2x.@3x.png", 3.0},
            {"a_3x.@2x.png", 3.0},
            {"a@2x.p", 1.0},    // 6 characters
            {"b@3x.jp", 1.0},   // 7 characters
            {"ab@2x.jp", 2.0},  // 8 characters
            {"https://h/a2x.png", 1.0},
    };

    const auto original = Bitmap::create(4, 2, {.format = image::PixelFormat::BGRA8});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto scaled = PelmarScaledImageForKey(c.key, original);
        ASSERT_TRUE(scaled);
        EXPECT_EQ(scaled->scale(), c.scale);
        EXPECT_EQ(scaled->data(), original->data());  // same pixels, never copied
        EXPECT_EQ(scaled == original, c.scale == 1.0);
    }
    EXPECT_FALSE(PelmarScaledImageForKey("x@2x.png", nullptr));
}

TEST(PelmarDecodedImageTest, DataThatIsNotAnImageGivesNothing) {
    EXPECT_FALSE(PelmarDecodedImage::decodedImageWithData(""));
    EXPECT_FALSE(PelmarDecodedImage::decodedImageWithData("{\"error\":\"not found\"}"));
    EXPECT_FALSE(PelmarDecodedImage::decodedImageWithData("\x89PNG\r\n\x1A\n", true));
}

TEST(PelmarDecodedImageTest, ForcedDecodeBakesRightOrientationWhileSkipCarriesIt) {
    const auto stored = image::test::photo(48, 20);
    const auto data = image::test::withExifOrientation(image::test::jpeg(*stored), 6);
    EXPECT_EQ(PelmarDecodedImage::imageOrientationFromImageSource(data), 3);  // right

    const auto forced = PelmarDecodedImage::decodedImageWithData(data);
    ASSERT_TRUE(forced);
    EXPECT_EQ(forced->width(), 20);
    EXPECT_EQ(forced->height(), 48);
    EXPECT_EQ(forced->orientation(), Orientation::Up);
    EXPECT_EQ(forced->scale(), 1.0);

    const auto lazy = PelmarDecodedImage::decodedImageWithData(data, true);
    ASSERT_TRUE(lazy);
    EXPECT_EQ(lazy->width(), 48);
    EXPECT_EQ(lazy->orientation(), Orientation::Right);
    EXPECT_EQ(lazy->pointWidth(), 20);
}

TEST(PelmarDecodedImageTest, AnImageKeptEncodedIsDrawnUpright) {
    for (const auto& c : image::test::kStoredOrientations) {
        SCOPED_TRACE(c.name);
        const auto data = image::test::withExifOrientation(
                image::test::jpeg(*image::test::storedQuadrants(c, 64, 48)), c.exif);
        const auto kept = PelmarDecodedImage::decodedImageWithData(data, true);
        ASSERT_TRUE(kept);
        EXPECT_EQ(static_cast<int>(kept->orientation()), c.exif);
        auto target = Bitmap::create(64, 48, {.format = image::PixelFormat::BGRA8});
        auto context = ui::CairoContext::create(target);
        ASSERT_TRUE(context);
        context->drawBitmap(*kept, {0, 0, kept->pointWidth(), kept->pointHeight()});
        context->flush();
        EXPECT_EQ(image::test::quadrantMismatch(*target, image::test::kUprightQuadrants), "");
    }
}

TEST(PelmarDecodedImageTest, ExifOrientationMapsToImageOrientation) {
    const int expected[] = {0, 0, 4, 1, 5, 6, 3, 7, 2, 0};  // EXIF 0..9
    for (int exif = 0; exif <= 9; ++exif) {
        EXPECT_EQ(PelmarDecodedImage::imageOrientationFromExif(exif), expected[exif]) << exif;
    }
}

TEST(PelmarDecodedImageTest, RedrawKeepsTransparencyAndGivesOpaqueImagesFullAlpha) {
    auto straight =
            Bitmap::create(2, 1, {.format = image::PixelFormat::RGBA8, .premultiplied = false});
    const uint8_t pixels[] = {200, 100, 0, 0, 200, 100, 50, 102};
    std::memcpy(straight->data(), pixels, sizeof pixels);
    const auto redrawn = PelmarDecodedImage::decodedImageRefWithBitmap(straight);
    ASSERT_TRUE(redrawn);
    EXPECT_FALSE(redrawn->opaque());
    const std::vector<uint8_t> premultiplied = {0, 0, 0, 0, 20, 40, 80, 102};
    EXPECT_EQ(std::vector<uint8_t>(redrawn->data(), redrawn->data() + 8), premultiplied);

    auto gray = Bitmap::create(2, 1, {.format = image::PixelFormat::Gray8, .opaque = true});
    gray->data()[0] = 7;
    const auto opaque = PelmarDecodedImage::decodedImageRefWithBitmap(gray);
    ASSERT_TRUE(opaque);
    EXPECT_TRUE(opaque->opaque());
    const std::vector<uint8_t> skipAlpha = {7, 7, 7, 255, 0, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(opaque->data(), opaque->data() + 8), skipAlpha);
}

TEST(PelmarDecodedImageTest, EncodedImagesDecodeBackUpright) {
    auto turned = image::test::quadrants(8, 4, {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255},
                                         {255, 255, 255, 255});
    turned->setOrientation(Orientation::Left);
    for (const auto& data : {PelmarDecodedImage::PNGRepresentation(*turned),
                             PelmarDecodedImage::JPEGRepresentation(*turned, 1.0)}) {
        ASSERT_TRUE(data);
        const auto back = PelmarDecodedImage::decodedImageWithData(*data);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->width(), 4);
        EXPECT_EQ(back->height(), 8);
        EXPECT_NEAR(back->pixel(0, 7)[2], 255, 40);  // top-left red turned to bottom-left
    }
}

struct Counter {
    int calls = 0;
};

TEST(PelmarRemoteWeakProxyTest, DropsMessagesOnceTheTargetIsGone) {
    auto target = std::make_shared<Counter>();
    const auto proxy = PelmarRemoteWeakProxy<Counter>::weakProxyWithTarget(target);
    EXPECT_TRUE(proxy.forward([](Counter& c) { ++c.calls; }));
    EXPECT_EQ(target->calls, 1);
    target.reset();
    EXPECT_FALSE(proxy.respondsToTarget());
    EXPECT_FALSE(proxy.forward([](Counter& c) { ++c.calls; }));
}

TEST(PelmarRemoteLockTest, RecursiveLockMayBeTakenAgainByItsHolder) {
    // On a thread of its own, with a deadline: a lock that is not recursive fails the test by
    // timing out instead of hanging it.
    auto lock = std::make_shared<PelmarRemoteLock>("test", PelmarRemoteLockType::Recursive);
    auto result = std::make_shared<std::promise<int>>();
    auto value = result->get_future();
    std::thread([lock, result] {
        result->set_value(
                lock->lockWithBlock([&] { return lock->lockWithBlock([] { return 7; }); }));
    }).detach();
    ASSERT_EQ(value.wait_for(test::kPatience), std::future_status::ready)
            << "the lock's holder could not take it again";
    EXPECT_EQ(value.get(), 7);
}

}  // namespace
}  // namespace pelmar
