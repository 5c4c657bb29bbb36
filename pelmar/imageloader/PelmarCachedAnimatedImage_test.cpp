#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "pelmar/imageloader/PelmarAlternateRepresentationProvider.h"
#include "pelmar/imageloader/testing/FakeAnimatedImage.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"

namespace pelmar {
namespace {

using test::FakeAnimatedImage;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint64_t kOneGiB = 1ULL << 30;

bool waitFor(const std::function<bool()>& predicate) {
    return dispatch::RunLoop::runUntil(predicate);
}

class PelmarCachedAnimatedImageTest : public dispatch::test::MainLoopFixture {};

TEST_F(PelmarCachedAnimatedImageTest, WindowFollowsPhysicalMemoryAndFrameSize) {
    const struct {
        const char* name;
        uint32_t side;
        std::size_t frames;
        std::size_t window;
    } cases[] = {
            // 1.6 MB in all, under 1/250 of 1 GiB: every frame.
            {"smallAnimationKeepsAll", 200, 10, 10},
            // 1 MB a frame, under 1/1000 of memory.
            {"mediumFramesKeepFour", 500, 100, 4},
            // 1.44 MB a frame, under 1/500.
            {"largeFramesKeepTwo", 600, 100, 2},
            {"hugeFramesKeepNone", 1000, 100, 0},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(
                FakeAnimatedImage::make(c.side, c.side, c.frames), kOneGiB);
        EXPECT_EQ(image->framesToCache(), c.window);
    }
}

TEST_F(PelmarCachedAnimatedImageTest, WindowWrapsPastTheLastFrame) {
    auto fake = FakeAnimatedImage::make(500, 500, 100);
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(fake, kOneGiB);
    ASSERT_TRUE(waitFor([&] { return image->cachedFrameIndexes().size() == 4; }));
    EXPECT_THAT(image->cachedFrameIndexes(), ElementsAre(0, 1, 2, 3));

    EXPECT_FALSE(image->imageAtIndex(98));
    const auto [keep, beginning] = image->getKeepRanges();
    EXPECT_EQ(keep.location, 98u);
    EXPECT_EQ(keep.length, 2u);
    EXPECT_EQ(beginning.location, 0u);
    EXPECT_EQ(beginning.length, 2u);
    ASSERT_TRUE(waitFor([&] {
        return image->cachedFrameIndexes() == std::set<std::size_t>{0, 1, 98, 99};
    }));
    EXPECT_TRUE(image->imageAtIndex(99));
    // An index past the end neither answers nor moves the play head.
    EXPECT_FALSE(image->imageAtIndex(100));
    EXPECT_EQ(image->getKeepRanges().first.location, 99u);
}

TEST_F(PelmarCachedAnimatedImageTest, MemoryWarningsShrinkTheWindowThenStopCaching) {
    auto fake = FakeAnimatedImage::make(200, 200, 10);
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(fake, kOneGiB);
    ASSERT_TRUE(waitFor([&] { return image->cachedFrameIndexes().size() == 10; }));

    app::AppLifecycle::receiveMemoryWarning();
    EXPECT_THAT(image->cachedFrameIndexes(), IsEmpty());

    const struct {
        double at;
        std::size_t window;
    } steps[] = {{0.5, 0}, {3, 2}, {7, 4}, {10.5, 10}};

    for (const auto& step : steps) {
        SCOPED_TRACE(step.at);
        clock().setNow(step.at);
        EXPECT_EQ(image->framesToCache(), step.window);
    }
    EXPECT_FALSE(image->cachingFramesCausingMemoryWarnings());

    // A second warning within 15 s: caching stays off, frames come decoded on request.
    app::AppLifecycle::receiveMemoryWarning();
    EXPECT_TRUE(image->cachingFramesCausingMemoryWarnings());
    clock().setNow(1000);
    EXPECT_EQ(image->framesToCache(), 0u);
    const int before = fake->decodeCountOf(5);
    auto frame = image->imageAtIndex(5);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->data()[0], 5);
    EXPECT_EQ(fake->decodeCountOf(5), before + 1);
}

TEST_F(PelmarCachedAnimatedImageTest, CoverAndPlaybackReadinessAreAnnouncedOnce) {
    auto fake = FakeAnimatedImage::make(200, 200, 10);
    fake->hold();
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(fake, kOneGiB);
    std::atomic<int> covers{0};
    std::atomic<int> readies{0};
    image->setCoverImageReadyCallback([&](const PelmarImage& cover) {
        EXPECT_TRUE(cover);
        ++covers;
    });
    image->setPlaybackReadyCallback([&] { ++readies; });
    ASSERT_TRUE(waitFor([&] { return fake->decodeCount() >= 1; }));
    EXPECT_FALSE(image->playbackReady());
    EXPECT_FALSE(image->coverImageReady());

    fake->release();
    ASSERT_TRUE(waitFor([&] { return readies.load() == 1; }));
    EXPECT_TRUE(image->playbackReady());
    EXPECT_EQ(covers.load(), 1);
    EXPECT_TRUE(image->coverImageReady());
    EXPECT_TRUE(image->coverImage());
    EXPECT_EQ(covers.load(), 1);

    // Readiness latches: frames decoding again later do not take it back.
    fake->hold();
    image->clearAnimatedImageCache();
    ASSERT_TRUE(waitFor([&] { return image->cacheCleared(); }));
    image->imageAtIndex(4);
    ASSERT_TRUE(waitFor([&] { return fake->decodeCountOf(4) == 2; }));
    EXPECT_TRUE(image->playbackReady());
    fake->release();
}

TEST_F(PelmarCachedAnimatedImageTest, FramesDecodedDuringAClearAreNotKept) {
    auto fake = FakeAnimatedImage::make(500, 500, 100);
    fake->hold();
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(fake, kOneGiB);
    std::atomic<int> readies{0};
    image->setPlaybackReadyCallback([&] { ++readies; });
    ASSERT_TRUE(waitFor([&] { return fake->decodeCount() >= 1; }));
    image->clearAnimatedImageCache();
    ASSERT_TRUE(waitFor([&] { return image->cacheCleared(); }));
    fake->release();
    ASSERT_TRUE(waitFor([&] { return readies.load() == 1; }));
    EXPECT_THAT(image->cachedFrameIndexes(), IsEmpty());
    EXPECT_EQ(image->frameCacheBytes(), 0u);
    EXPECT_FALSE(image->coverImageReady());
}

TEST_F(PelmarCachedAnimatedImageTest, AFrameThatFailsDoesNotHoldBackPlayback) {
    auto fake = FakeAnimatedImage::make(200, 200, 10);
    fake->failFrame(2);
    fake->hold();
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(fake, kOneGiB);
    std::atomic<int> readies{0};
    image->setPlaybackReadyCallback([&] { ++readies; });
    fake->release();
    ASSERT_TRUE(waitFor([&] { return readies.load() == 1; }));
    EXPECT_TRUE(image->playbackReady());
    EXPECT_TRUE(image->frameFailedAtIndex(2));
    EXPECT_EQ(image->cachedFrameIndexes().size(), 9u);
    EXPECT_FALSE(image->imageAtIndex(2));
    // Moving on re-runs the window, which does not decode the failed frame again.
    image->imageAtIndex(3);
    ASSERT_TRUE(waitFor([&] { return fake->decodeCount() >= 10; }));
    EXPECT_EQ(fake->decodeCountOf(2), 1);
}

TEST_F(PelmarCachedAnimatedImageTest, OnlyDecodableAnimatedGifsMakeAnImage) {
    std::string broken = image::test::patternGif(8, 8, 3);
    broken[6] = broken[7] = 0;  // a screen 0 pixels wide, still with its controls
    PelmarAlternateRepresentationProvider provider;

    const struct {
        const char* name;
        std::string data;
        bool made;
    } cases[] = {
            {"animated", image::test::patternGif(8, 8, 3), true},
            {"still", image::test::gif(2, 2, {{0, 0, 0}, {1, 1, 1}}, {{0, 0, 2, 2, {0, 1, 1, 0}}}),
             false},
            {"looksAnimatedButBroken", broken, false},
            {"notAnImage", "hello", false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PelmarCachedAnimatedImage::createWithAnimatedImageData(c.data) != nullptr,
                  c.made);
        EXPECT_EQ(provider.alternateRepresentationWithData(c.data, 0) != nullptr, c.made);
    }
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImageData(
            image::test::patternGif(8, 8, 3), kOneGiB);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frameCount(), 3u);
    EXPECT_EQ(image->size(), std::make_pair(8.0, 8.0));
    auto cover = image->coverImage();
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->width(), 8);
}

}  // namespace
}  // namespace pelmar
