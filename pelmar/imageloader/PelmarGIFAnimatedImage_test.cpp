#include "pelmar/imageloader/PelmarGIFAnimatedImage.h"

#include <gtest/gtest.h>

#include "pelmar/imageloader/PelmarImageDetectors.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"

namespace pelmar {
namespace {

namespace fixtures = image::test;

std::string gifWithDelays(const std::vector<std::optional<int>>& delays) {
    std::vector<fixtures::AnimatedGifFrame> frames;
    for (const auto& delay : delays) {
        frames.push_back({{0, 0, 2, 2, {0, 1, 1, 0}}, delay});
    }
    return fixtures::animatedGif(2, 2, {{0, 0, 0}, {255, 255, 255}}, frames);
}

TEST(PelmarImageDetectorsTest, TellsGifsAndAnimatedGifsApart) {
    const std::string animated = gifWithDelays({10, 10});
    // One frame with a graphic control extension (the transparent colour writes one).
    const std::string still =
            fixtures::gif(2, 2, {{0, 0, 0}, {255, 255, 255}}, {{0, 0, 2, 2, {0, 1, 1, 0}, 1}});
    const std::size_t firstControl = animated.find("\x21\xF9");
    ASSERT_NE(firstControl, std::string::npos);

    const struct {
        const char* name;
        std::string data;
        bool gif;
        bool animated;
    } cases[] = {
            {"empty", "", false, false},
            {"twoBytes", "GI", false, false},
            {"otherFirstByte", "XIF89a", false, false},
            {"bareSignature", "GIF", true, false},
            {"oneControlExtension", still, true, false},
            {"twoControlExtensions", animated, true, true},
            {"cutInsideFirstControl", animated.substr(0, firstControl + 4), true, false},
            {"cutInsideFirstPicture", animated.substr(0, firstControl + 22), true, false},
            {"controlAtTheVeryEnd", std::string("GIF89a\x21", 7), true, false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pelmar_isGIF(c.data), c.gif);
        EXPECT_EQ(pelmar_isAnimatedGIF(c.data), c.animated);
    }
}

TEST(PelmarGIFAnimatedImageTest, FrameDurationsFollowDelaysWithAFloorOfOneRefresh) {
    ASSERT_EQ(PelmarAnimatedImage::maximumFramesPerSecond(), 60);

    const struct {
        const char* name;
        std::optional<int> delay;
        float seconds;
    } cases[] = {
            {"noControlExtension", std::nullopt, 0.1f},
            {"zero", 0, 0.1f},
            {"tenMilliseconds", 1, 0.1f},
            {"twentyMilliseconds", 2, 0.02f},
            {"quarterSecond", 25, 0.25f},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(PelmarGIFAnimatedImage::frameDurationForDelay(c.delay), c.seconds);
    }
    auto image = PelmarGIFAnimatedImage::create(gifWithDelays({0, 1, std::nullopt, 50}));
    ASSERT_TRUE(image);
    EXPECT_FLOAT_EQ(image->durationAtIndex(0), 0.1f);
    EXPECT_FLOAT_EQ(image->durationAtIndex(1), 0.1f);
    EXPECT_FLOAT_EQ(image->durationAtIndex(2), 0.1f);
    EXPECT_FLOAT_EQ(image->durationAtIndex(3), 0.5f);
}

TEST(PelmarGIFAnimatedImageTest, DerivesTotalDurationAndTheFrameGrid) {
    const struct {
        const char* name;
        std::vector<std::optional<int>> delays;
        double total;
        double minimumInterval;
        uint64_t frameInterval;
    } cases[] = {
            // 12, 24 and 36 half refreshes: a step of 12, i.e. 0.1 s or 6 refreshes.
            {"tenthsOfASecond", {10, 20, 30}, 0.6, 0.1, 6},
            {"sameDelays", {5, 5}, 0.1, 0.05, 3},
            // 3 and 5 hundredths: 3.6 -> 4 and 6 half refreshes, a step of 2 = one refresh.
            {"coprime", {3, 5}, 0.08, 1.0 / 60, 1},
            {"longAndShort", {65535, 2}, 655.37, 1.0 / 60, 1},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = PelmarGIFAnimatedImage::create(gifWithDelays(c.delays));
        ASSERT_TRUE(image);
        // Delays are single precision.
        EXPECT_NEAR(image->totalDuration(), c.total, 1e-4);
        EXPECT_NEAR(image->minimumFrameInterval(), c.minimumInterval, 1e-9);
        EXPECT_EQ(image->frameInterval(), c.frameInterval);
    }
}

TEST(PelmarGIFAnimatedImageTest, ReadsSizeLoopCountAndComposedFrames) {
    auto image = PelmarGIFAnimatedImage::create(fixtures::disposalGif());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 6u);
    EXPECT_EQ(image->height(), 4u);
    EXPECT_EQ(image->bytesPerFrame(), 96u);
    EXPECT_EQ(image->frameCount(), 5u);
    EXPECT_EQ(image->loopCount(), 0u);
    EXPECT_FALSE(image->error());
    auto frame = image->imageAtIndex(4, nullptr);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->premultiplied());
    EXPECT_FALSE(image->imageAtIndex(5, nullptr));

    auto looping = PelmarGIFAnimatedImage::create(
            fixtures::animatedGif(2, 2, {{0, 0, 0}, {1, 1, 1}}, {{{0, 0, 2, 2, {0, 1, 1, 0}}}}, 2));
    ASSERT_TRUE(looping);
    EXPECT_EQ(looping->loopCount(), 2u);
}

TEST(PelmarGIFAnimatedImageTest, RefusesDataWithoutPlayableFrames) {
    EXPECT_FALSE(PelmarGIFAnimatedImage::create("not a gif"));
    EXPECT_FALSE(PelmarGIFAnimatedImage::create(
            std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00\x3B", 14)));
    EXPECT_FALSE(PelmarGIFAnimatedImage::create(fixtures::patternGif(8, 8, 2), 63));
}

}  // namespace
}  // namespace pelmar
