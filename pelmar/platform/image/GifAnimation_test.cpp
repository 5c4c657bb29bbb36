#include "pelmar/platform/image/GifAnimation.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"

namespace pelmar::image {
namespace {

using Bgra = std::array<uint8_t, 4>;

constexpr Bgra kRed{0, 0, 255, 255};
constexpr Bgra kGreen{0, 255, 0, 255};
constexpr Bgra kBlue{255, 0, 0, 255};
constexpr Bgra kBlack{0, 0, 0, 255};
constexpr Bgra kClear{0, 0, 0, 0};

Bgra at(const Bitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

std::unique_ptr<GifAnimation> openBytes(std::string bytes, int64_t maxPixels = Bitmap::kMaxPixels) {
    return GifAnimation::open(std::make_shared<const std::string>(std::move(bytes)), maxPixels);
}

TEST(GifAnimationTest, IndexesFramesWithTheirControlsAndLoopCount) {
    std::vector<test::AnimatedGifFrame> frames(3);
    for (auto& f : frames) {
        f.frame = {0, 0, 2, 2, {0, 1, 1, 0}};
    }
    frames[0].delayCentiseconds = 7;
    frames[1].delayCentiseconds.reset();
    frames[2].disposal = 2;
    auto animation = openBytes(test::animatedGif(2, 2, {{0, 0, 0}, {9, 9, 9}}, frames, 3));
    ASSERT_TRUE(animation);
    EXPECT_EQ(animation->width(), 2);
    EXPECT_EQ(animation->frameCount(), 3u);
    EXPECT_EQ(animation->loopCount(), 3);
    EXPECT_EQ(animation->frame(0).delayCentiseconds, 7);
    EXPECT_EQ(animation->frame(1).delayCentiseconds, std::nullopt);
    EXPECT_EQ(animation->frame(2).disposal, 2);

    auto noLoop = openBytes(test::animatedGif(2, 2, {{0, 0, 0}, {9, 9, 9}}, frames, std::nullopt));
    ASSERT_TRUE(noLoop);
    EXPECT_EQ(noLoop->loopCount(), std::nullopt);
}

// Expected screens of test::disposalGif() frame by frame (x, y, colour).
struct Probe {
    int frame;
    int x;
    int y;
    Bgra colour;
};

constexpr Probe kDisposalProbes[] = {
        {0, 0, 0, kRed},
        {0, 5, 3, kRed},
        // The green square, its transparent corner showing the red below.
        {1, 1, 1, kGreen},
        {1, 2, 2, kRed},
        // Frame 1 cleared its square to transparent; blue covers part of it, and blue's own
        // transparent corner shows the red below.
        {2, 1, 1, kClear},
        {2, 1, 2, kClear},
        {2, 2, 1, kBlue},
        {2, 4, 2, kRed},
        {2, 4, 0, kBlue},
        // Frame 2 restored the screen from before it: no blue, the cleared square back.
        {3, 2, 0, kRed},
        {3, 2, 1, kClear},
        {3, 1, 1, kClear},
        {3, 1, 2, kBlack},
        {3, 0, 3, kBlack},
        {4, 4, 2, kGreen},
        {4, 5, 3, kGreen},
        {4, 2, 2, kClear},
        {4, 0, 2, kBlack},
};

TEST(GifAnimationTest, CompositesEveryDisposalInOrder) {
    auto animation = openBytes(test::disposalGif());
    ASSERT_TRUE(animation);
    ASSERT_EQ(animation->frameCount(), 5u);
    std::vector<std::shared_ptr<Bitmap>> screens;
    for (std::size_t i = 0; i < 5; ++i) {
        screens.push_back(animation->frameAt(i));
        ASSERT_TRUE(screens.back());
        EXPECT_EQ(screens.back()->format(), PixelFormat::BGRA8);
    }
    for (const auto& probe : kDisposalProbes) {
        SCOPED_TRACE(testing::Message()
                     << "frame " << probe.frame << " at " << probe.x << "," << probe.y);
        EXPECT_EQ(at(*screens[probe.frame], probe.x, probe.y), probe.colour);
    }
}

TEST(GifAnimationTest, RandomAccessReplaysToTheSameScreens) {
    auto sequential = openBytes(test::disposalGif());
    auto random = openBytes(test::disposalGif());
    ASSERT_TRUE(sequential && random);
    std::vector<std::shared_ptr<Bitmap>> expected;
    for (std::size_t i = 0; i < 5; ++i) {
        expected.push_back(sequential->frameAt(i));
    }
    for (std::size_t i : {3u, 1u, 4u, 4u, 0u, 2u}) {
        SCOPED_TRACE(i);
        auto screen = random->frameAt(i);
        ASSERT_TRUE(screen);
        EXPECT_EQ(0, std::memcmp(screen->data(), expected[i]->data(), screen->byteCount()));
    }
    EXPECT_FALSE(random->frameAt(5));
}

TEST(GifAnimationTest, RefusesWhatItCannotPlay) {
    const std::string twoFrames = test::patternGif(4, 4, 2);

    const struct {
        const char* name;
        std::string bytes;
        int64_t maxPixels;
    } cases[] = {
            {"notAGif", "PNG not a gif", Bitmap::kMaxPixels},
            {"noFrames", std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00\x3B", 14),
             Bitmap::kMaxPixels},
            {"screenAboveCap", test::patternGif(4, 4, 2), 15},
            {"hugeScreen", std::string("GIF89a\xFF\xFF\xFF\xFF\x00\x00\x00\x3B", 14),
             Bitmap::kMaxPixels},
            {"cutInColourTable", twoFrames.substr(0, 40), Bitmap::kMaxPixels},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(openBytes(c.bytes, c.maxPixels));
    }
}

TEST(GifAnimationTest, KeepsTheCompleteFramesOfATruncatedFile) {
    const std::string bytes = test::patternGif(4, 4, 3);
    // Cut inside the last frame's picture.
    auto animation = openBytes(bytes.substr(0, bytes.size() - 6));
    ASSERT_TRUE(animation);
    EXPECT_EQ(animation->frameCount(), 2u);
    EXPECT_TRUE(animation->frameAt(1));
}

TEST(GifAnimationTest, ClipsFramesToTheScreen) {
    test::GifFrame wide{2, 1, 4, 2, std::vector<uint8_t>(8, 1)};
    auto animation = openBytes(test::animatedGif(
            3, 2, {{0, 0, 0}, {0, 255, 0}}, {{{0, 0, 3, 2, std::vector<uint8_t>(6, 0)}}, {wide}}));
    ASSERT_TRUE(animation);
    auto screen = animation->frameAt(1);
    ASSERT_TRUE(screen);
    EXPECT_EQ(at(*screen, 2, 1), kGreen);
    EXPECT_EQ(at(*screen, 1, 1), kBlack);
}

}  // namespace
}  // namespace pelmar::image
