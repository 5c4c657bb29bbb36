#include "pelmar/imageloader/PelmarAnimatedImageView.h"

#include <gtest/gtest.h>

#include "pelmar/imageloader/testing/FakeAnimatedImage.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/ui/ViewController.h"
#include "testing/App.h"

namespace pelmar {
namespace {

using test::FakeAnimatedImage;

class PelmarAnimatedImageViewTest : public ::testing::Test {
protected:
    // A view in the root screen, playing nothing yet.
    std::shared_ptr<PelmarAnimatedImageView> addView() {
        auto view = std::make_shared<PelmarAnimatedImageView>(ui::Rect{0, 0, 100, 100});
        app.root()->view()->addSubview(view);
        return view;
    }

    // An image whose every frame is decoded, as after a download.
    std::shared_ptr<PelmarCachedAnimatedImage> readyImage(std::shared_ptr<FakeAnimatedImage> fake) {
        auto image = PelmarCachedAnimatedImage::createWithAnimatedImage(std::move(fake));
        EXPECT_TRUE(app.runUntil(
                [&] { return image->cachedFrameIndexes().size() == image->frameCount(); }));
        return image;
    }

    // A view in the root screen that has played `image` (all frames decoded) for `seconds`;
    // the first refresh only starts the animation's clock.
    std::shared_ptr<PelmarAnimatedImageView> viewPlaying(
            const std::shared_ptr<PelmarCachedAnimatedImage>& image, double seconds) {
        auto view = addView();
        view->setAnimatedImage(image);
        app.settle();
        play(seconds);
        return view;
    }

    // Refresh by refresh, letting background decoding catch up after each.
    void play(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 1.0 / 60) {
            app.advance(1.0 / 60);
            app.settle();
        }
    }

    test::App app;
};

TEST_F(PelmarAnimatedImageViewTest, HonoursTheLoopCount) {
    const struct {
        const char* name;
        uint64_t loopCount;
        bool stillAnimating;
    } cases[] = {{"once", 1, false}, {"twice", 2, false}, {"endless", 0, true}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto view = addView();
        view->setAnimatedImage(readyImage(FakeAnimatedImage::make(8, 8, 4, 0.1, c.loopCount)));
        app.settle();
        ASSERT_TRUE(view->isAnimating());
        play(1.5);
        EXPECT_EQ(view->isAnimating(), c.stillAnimating);
        if (c.loopCount != 0) {
            EXPECT_EQ(view->playedLoops(), c.loopCount);
            // It stopped on the last frame it showed.
            EXPECT_EQ(view->lastSuccessfulFrameIndex(), 3u);
            ASSERT_TRUE(view->image());
            EXPECT_EQ(view->image()->bitmap()->data()[0], 3);
        } else {
            // Each pass takes its 0.4 s plus the refresh that wraps it.
            EXPECT_GE(view->playedLoops(), 2u);
        }
        view->removeFromSuperview();
    }
}

TEST_F(PelmarAnimatedImageViewTest, AsksForOnlyTheRefreshesTheAnimationNeeds) {
    auto view = addView();
    view->setAnimatedImage(readyImage(FakeAnimatedImage::make(8, 8, 3, 0.1)));
    app.settle();
    ASSERT_TRUE(view->displayLink());
    EXPECT_EQ(view->displayLink()->preferredFramesPerSecond(), 10);
}

TEST_F(PelmarAnimatedImageViewTest, PicksTheFrameWhoseEndIsNotBeforeThePlayHead) {
    auto view = addView();
    view->setAnimatedImage(PelmarCachedAnimatedImage::createWithAnimatedImage(
            std::make_shared<FakeAnimatedImage>(8, 8, std::vector<double>{0.1, 0.2, 0.3})));

    const struct {
        double playHead;
        std::size_t frame;
    } cases[] = {{0, 0}, {0.05, 0}, {0.1, 0}, {0.1001, 1}, {0.3, 1}, {0.31, 2}, {0.6, 2}, {9, 2}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.playHead);
        EXPECT_EQ(view->frameIndexAtPlayHeadPosition(c.playHead), c.frame);
    }
}

TEST_F(PelmarAnimatedImageViewTest, SameImageKeepsPlayingAndAStillImageDropsIt) {
    auto image = readyImage(FakeAnimatedImage::make(8, 8, 10, 0.1));
    auto view = viewPlaying(image, 0.35);
    const double playHead = view->playHead();
    const auto link = view->displayLink();
    view->setAnimatedImage(image);
    EXPECT_EQ(view->playHead(), playHead);
    EXPECT_EQ(view->displayLink(), link);
    EXPECT_TRUE(view->isAnimating());

    auto still = ui::Image::fromBitmap(image::test::quadrants(
            4, 4, {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}, {0, 0, 0, 255}));
    view->setImage(still);
    EXPECT_FALSE(view->animatedImage());
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->image(), still);
    play(0.2);
    EXPECT_EQ(view->image(), still);
}

TEST_F(PelmarAnimatedImageViewTest, HidingPausesAndClearsShowingResumesInPlace) {
    auto image = readyImage(FakeAnimatedImage::make(8, 8, 10, 0.1));
    auto view = viewPlaying(image, 0.35);
    const double playHead = view->playHead();
    ASSERT_GT(playHead, 0.15);

    view->setHidden(true);
    EXPECT_FALSE(view->isAnimating());
    app.settle();
    EXPECT_TRUE(image->cacheCleared());
    EXPECT_TRUE(image->cachedFrameIndexes().empty());
    play(1.0);
    EXPECT_EQ(view->playHead(), playHead);

    view->setHidden(false);
    app.settle();
    play(0.25);
    EXPECT_TRUE(view->isAnimating());
    EXPECT_GT(view->playHead(), playHead);
    EXPECT_LT(view->playHead(), playHead + 0.2);

    // Alpha 0 and leaving the window count as hidden too.
    view->setAlpha(0);
    EXPECT_FALSE(view->isAnimating());
    view->setAlpha(1);
    app.settle();
    EXPECT_TRUE(view->isAnimating());
    view->removeFromSuperview();
    EXPECT_FALSE(view->isAnimating());
}

TEST_F(PelmarAnimatedImageViewTest, WaitsForAMissingFrameThenGoesOn) {
    auto fake = FakeAnimatedImage::make(8, 8, 10, 0.1);
    auto view = viewPlaying(readyImage(fake), 0.15);
    // Hidden and shown again: the frames are gone, and decoding them is held up.
    view->setHidden(true);
    app.settle();
    fake->hold();
    view->setHidden(false);
    // Within a few refreshes the play head reaches a frame that is not decoded.
    for (int i = 0; i < 10 && view->isAnimating(); ++i) {
        app.advance(0.1);  // not settle(): the held decoding keeps a queue busy
    }
    EXPECT_FALSE(view->isAnimating());
    const double playHead = view->playHead();
    app.advance(0.5);
    EXPECT_EQ(view->playHead(), playHead);

    fake->release();
    EXPECT_TRUE(app.runUntil([&] { return view->isAnimating(); }));
    play(0.3);
    EXPECT_GT(view->playHead(), playHead);
}

TEST_F(PelmarAnimatedImageViewTest, ANewImageStartsFromItsBeginning) {
    auto view = viewPlaying(readyImage(FakeAnimatedImage::make(8, 8, 2, 0.1, 1)), 0.5);
    ASSERT_FALSE(view->isAnimating());
    ASSERT_EQ(view->playedLoops(), 1u);

    view->setAnimatedImage(readyImage(FakeAnimatedImage::make(8, 8, 4, 0.1, 1)));
    app.settle();
    EXPECT_EQ(view->playedLoops(), 0u);
    EXPECT_TRUE(view->isAnimating());
    play(0.2);
    EXPECT_TRUE(view->isAnimating());
    EXPECT_LT(view->playHead(), 0.3);
}

TEST_F(PelmarAnimatedImageViewTest, NeverAnimatesOutsideAWindow) {
    auto view = std::make_shared<PelmarAnimatedImageView>(ui::Rect{0, 0, 10, 10});
    auto holder = std::make_shared<ui::View>(ui::Rect{0, 0, 10, 10});
    holder->addSubview(view);
    view->setAnimatedImage(readyImage(FakeAnimatedImage::make(8, 8, 4, 0.1)));
    app.settle();
    play(0.2);
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->playHead(), 0);
    app.root()->view()->addSubview(holder);
    app.settle();
    EXPECT_TRUE(view->isAnimating());
}

}  // namespace
}  // namespace pelmar
