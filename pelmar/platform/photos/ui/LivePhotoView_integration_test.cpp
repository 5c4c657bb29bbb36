#include <gtest/gtest.h>

#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/photos/ui/LivePhotoView.h"
#include "pelmar/platform/ui/Touch.h"
#include "testing/App.h"
#include "testing/TempDir.h"

namespace pelmar::photos {
namespace {

TEST(LivePhotoViewIntegrationTest, APressPlaysTheMovieOverTheStillUntilTheFingerLifts) {
    pelmar::test::App app;
    pelmar::test::TempDir folder("live-photo");
    const auto still = image::test::quadrants(64, 48, {0, 0, 255, 255}, {0, 255, 0, 255},
                                              {255, 0, 0, 255}, {0, 0, 0, 255});
    auto view = LivePhotoView::create({0, 0, 200, 150});
    view->setLivePhoto(
            photos::LivePhoto{still, test::writeMovie(folder.path(), "live.mp4", 2), {64, 48}});
    app.root()->view()->addSubview(view);
    ASSERT_TRUE(view->stillView()->image());
    EXPECT_EQ(view->stillView()->image()->bitmap(), still);
    EXPECT_FALSE(view->isPlaying());
    EXPECT_TRUE(view->movieView()->isHidden());

    ui::TouchSequence finger(app.window());
    ASSERT_EQ(finger.begin({{100, 75}}), std::nullopt);
    app.advance(0.6);
    ASSERT_TRUE(view->isPlaying());
    EXPECT_FALSE(view->movieView()->isHidden());
    EXPECT_TRUE(view->stillView()->isHidden());
    const auto player = view->player();
    ASSERT_TRUE(app.runUntil([&] {
        return player->timeControlStatus.get() == av::Player::TimeControlStatus::Playing;
    }));
    app.advance(0.5);
    EXPECT_NEAR(player->currentTime().seconds(), 0.5, 0.05);

    finger.end();
    app.settle();
    EXPECT_FALSE(view->isPlaying());
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_FALSE(view->stillView()->isHidden()) << "the still again";
    EXPECT_EQ(view->stillView()->image()->bitmap(), still);

    // Switched off, the press leaves the still alone.
    view->playbackGestureRecognizer()->setEnabled(false);
    ui::TouchSequence again(app.window());
    again.begin({{100, 75}});
    app.advance(0.6);
    EXPECT_FALSE(view->isPlaying());
}

}  // namespace
}  // namespace pelmar::photos
