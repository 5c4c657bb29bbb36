#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/av/testing/OffsetMovies.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "pelmar/platform/ui/Resources.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/player/PelmarPlayerController.h"
#include "pelmar/player/testing/PlayerTestMovie.h"
#include "testing/App.h"
#include "testing/CountingMovie.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using Look = PlayerStyle::Pelmar_Player_Controller_Style;

class PelmarPlayerControllerIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(test::PlayerTestMovie::shared().failure(), ""); }

    std::shared_ptr<av::Player> moviePlayer() {
        return std::make_shared<av::Player>(test::PlayerTestMovie::shared().path().string());
    }

    // The screen for `look` over `player`, presented without animation over the root.
    std::shared_ptr<PelmarPlayerController> show(int64_t look,
                                                 std::shared_ptr<av::Player> player,
                                                 bool showsPlaybackControls = true) {
        app.sdk()->getVideoPlayerConfig()->playerStyle->controllerStyle = look;
        auto screen = std::make_shared<PelmarPlayerController>(*app.sdk(), std::move(player));
        auto style = PlayerStyle::defaultStyle();
        style->controllerStyle = look;
        screen->setPlayerStyle(style);
        screen->setShowsPlaybackControls(showsPlaybackControls);
        app.root()->present(screen, false);
        app.settle();
        return screen;
    }

    // Plays `screen`'s movie for `seconds` of clock time.
    void playFor(const PelmarPlayerController& screen, double seconds) {
        screen.player()->play();
        ASSERT_TRUE(app.runUntil([&] {
            return screen.player()->timeControlStatus.get()
                   == av::Player::TimeControlStatus::Playing;
        }));
        app.advance(seconds);
        app.settle();
    }

    test::App app;
};

// A host closed (its screens and facade gone) while a remote movie is still arriving: the fetch
// stops then, rather than the host waiting for the rest of the movie.
TEST(PelmarPlayerControllerCloseTest, ClosingTheHostStopsAMovieStillArriving) {
    av::test::TestMovie movie{8, 640, 360, 30, 30};
    movie.extraOptions = "-b:v 4M";
    av::test::ServedTestMovie served(movie, 500 * 1000);
    ASSERT_EQ(served.failure(), "");
    const auto size = static_cast<int64_t>(std::filesystem::file_size(served.path()));
    {
        test::App app;
        auto player =
                std::make_shared<av::Player>(av::PlayerItem::create(served.url("/slow/movie.mp4")));
        auto screen = std::make_shared<PelmarPlayerController>(*app.sdk(), player);
        app.root()->present(screen, false);
        player->play();
        ASSERT_TRUE(app.runUntil([&] {
            return player->timeControlStatus.get() == av::Player::TimeControlStatus::Playing;
        }));
    }
    const auto sent = [](const std::vector<pelmar::test::NginxRequest>& requests) {
        int64_t bytes = 0;
        for (const auto& r : requests) {
            bytes += r.uri == "/slow/movie.mp4" ? r.bodyBytes : 0;
        }
        return bytes;
    };
    // nginx logs a request once its connection is done with.
    ASSERT_TRUE(served.server().WaitForRequests(
            [&](const auto& requests) { return sent(requests) > 0; }));
    EXPECT_LT(sent(served.server().requests()), size / 2) << "not the whole movie";
}

TEST(PelmarPlayerControllerTest, PicksTheInterfaceFileByLook) {
    const std::vector<std::pair<std::optional<int64_t>, std::string>> cases{
            {0, "PelmarPlayerController"},     {1, "ModernPlayerController"},
            {2, "CubePlayerController"},       {3, "SpacePlayerController"},
            {4, "MinimalistPlayerController"}, {5, "ElevatePlayerController"},
            {6, "TheaterPlayerController"},    {7, "PelmarPlayerController"},
            {-1, "PelmarPlayerController"},    {std::nullopt, "PelmarPlayerController"},
    };
    for (const auto& [look, nib] : cases) {
        SCOPED_TRACE(nib);
        EXPECT_EQ(PelmarPlayerController::nibNameForStyle(look), nib);
    }
}

TEST(PelmarPlayerControllerTest, FormatsTimesAndColours) {
    const std::vector<std::pair<float, std::string>> times{
            {0, "0:00"},    {65, "1:05"}, {3600, "60:00"}, {59.99f, "0:59"},
            {9.5f, "0:09"}, {-3, "0:00"}, {NAN, "0:00"},   {INFINITY, "0:00"},
    };
    for (const auto& [seconds, text] : times) {
        SCOPED_TRACE(text);
        EXPECT_EQ(PelmarPlayerController::timeLabelString(seconds), text);
    }
    EXPECT_EQ(PelmarPlayerController::UIColorFromRGB(0xFF8000), (ui::Color{1, 128 / 255.0, 0, 1}));
    EXPECT_EQ(PelmarPlayerController::UIColorFromRGB(0x7000000FF), (ui::Color{0, 0, 1, 1}));
    EXPECT_EQ(PelmarPlayerController::UIColorFromRGB(-1), (ui::Color{1, 1, 1, 1}));
}

TEST_F(PelmarPlayerControllerIntegrationTest, LoadsItsPicturesFromTheResourceFolder) {
    for (const char* name : {"close", "play-white", "pause-white", "sound-on", "sound-off",
                             "play-black", "pause-black", "sound-on-black", "sound-off-black"}) {
        SCOPED_TRACE(name);
        const auto image = PelmarPlayerController::getImageFromResource(name);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->name(), name);
        // The picture behind the name ships with the player.
        EXPECT_TRUE(
                ui::Resources(std::filesystem::path(PELMAR_SOURCE_DIR) / "pelmar/player/resources")
                        .imagePath(name));
    }
}

TEST_F(PelmarPlayerControllerIntegrationTest, LabelsFollowTheClockByLook) {
    struct Case {
        const char* name;
        int64_t look;
        std::string elapsed;
        std::string total;  // what the second label shows
    };

    const std::vector<Case> cases{
            {"Default", 0, "0:01/0:05", "0:00"},
            {"Modern", 1, "0:01/0:05", "0:00"},
            {"Cube", 2, "0:01", "0:00"},
            {"Space", 3, "0:01", "0:05"},
            {"Minimalist", 4, "0:01/0:05", "0:00"},
            {"Elevate", 5, "0:01", "0:05"},
            {"Theatre", 6, "0:01", "0:05"},
            {"Unknown", 9, "0:01/0:05", "0:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto screen = show(c.look, moviePlayer());
        playFor(*screen, 1.0);
        EXPECT_EQ(screen->durationTextView.lock()->text(), c.elapsed);
        EXPECT_EQ(screen->endDurationTextView.lock()->text(), c.total);
        EXPECT_EQ(screen->progressBarSlider.lock()->maximumValue(), 5.0f);
        EXPECT_EQ(screen->progressBarSlider.lock()->value(), 1.0f);
        screen->dismiss(false);
        app.settle();
    }
}

TEST_F(PelmarPlayerControllerIntegrationTest, AnItemThatIsNotReadyCountsAsZero) {
    const auto screen = show(0, std::make_shared<av::Player>("/no/such/movie.mp4"));
    screen->progressBarSlider.lock()->setMaximumValue(3);
    screen->setDurationView();
    EXPECT_EQ(screen->durationTextView.lock()->text(), "0:00/0:00");
    EXPECT_EQ(screen->progressBarSlider.lock()->maximumValue(), 3.0f) << "left unchanged";
}

TEST_F(PelmarPlayerControllerIntegrationTest, ColoursComeFromTheStyle) {
    auto style = PlayerStyle::defaultStyle();
    style->controllerStyle = 3;
    style->textColor = 0xFF0000;
    style->playedColor = 0x00FF00;
    style->unplayedColor = 0x0000FF;
    style->tintColor = 0x123456;
    auto screen = std::make_shared<PelmarPlayerController>(*app.sdk(), moviePlayer());
    screen->setPlayerStyle(style);
    app.root()->present(screen, false);
    app.settle();
    playFor(*screen, 1.0);
    EXPECT_EQ(screen->durationTextView.lock()->textColor(), (ui::Color{1, 0, 0, 1}));
    EXPECT_NE(screen->endDurationTextView.lock()->textColor(), (ui::Color{1, 0, 0, 1}));
    EXPECT_EQ(screen->progressBarSlider.lock()->minimumTintColor, (ui::Color{0, 1, 0, 1}));
    EXPECT_EQ(screen->progressBarSlider.lock()->maximumTintColor, (ui::Color{0, 0, 1, 1}));
    const ui::Color tint = PelmarPlayerController::UIColorFromRGB(0x123456);
    EXPECT_EQ(screen->playPauseButton.lock()->tintColor(), tint);
    EXPECT_EQ(screen->muteButton.lock()->tintColor(), tint);
    EXPECT_EQ(screen->closeButton.lock()->tintColor(), tint);
}

TEST_F(PelmarPlayerControllerIntegrationTest, PlayPauseFollowsThePlayerStartedAfterLoading) {
    // The facade starts the player only after the screen has loaded.
    const auto screen = show(0, moviePlayer());
    EXPECT_FALSE(screen->isPlaying());
    playFor(*screen, 0.5);
    EXPECT_TRUE(screen->isPlaying()) << "started by the facade, not by a tap";
    ASSERT_TRUE(app.tap(screen->playPauseButton));
    EXPECT_EQ(screen->player()->rate(), 0.0f) << "the first tap pauses";
    EXPECT_FALSE(screen->isPlaying());
    EXPECT_EQ(screen->playPauseButton.lock()->image()->name(), "play-white");
    ASSERT_TRUE(app.tap(screen->playPauseButton));
    EXPECT_EQ(screen->player()->rate(), 1.0f);
    EXPECT_TRUE(screen->isPlaying());
    EXPECT_EQ(screen->playPauseButton.lock()->image()->name(), "pause-white");
    // Played to its end, the player has stopped by itself.
    app.advance(screen->player()->currentItem()->duration().seconds());
    app.settle();
    EXPECT_FALSE(screen->isPlaying());
}

TEST_F(PelmarPlayerControllerIntegrationTest, MinimalistKeepsItsImagesAndLeavesMuteUnwired) {
    const auto screen = show(4, moviePlayer());
    playFor(*screen, 0.5);
    ASSERT_TRUE(app.tap(screen->playPauseButton));
    EXPECT_EQ(screen->player()->rate(), 0.0f);
    EXPECT_EQ(screen->playPauseButton.lock()->image()->name(), "pause-white") << "the nib's";
    EXPECT_TRUE(screen->muteButton.lock()->gestureRecognizers().empty());
}

TEST_F(PelmarPlayerControllerIntegrationTest, UnmuteRestoresTheVolumeReadAtMuteTime) {
    struct Case {
        const char* name;
        int64_t look;
        float startVolume;
        float restored;
        const char* offIcon;
        const char* onIcon;
    };

    const std::vector<Case> cases{
            {"Audible", 0, 0.7f, 0.7f, "sound-off", "sound-on"},
            {"SilentFromTheStart", 5, 0.0f, 1.0f, "sound-off-black", "sound-on-black"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto player = moviePlayer();
        player->setVolume(c.startVolume);
        const auto screen = show(c.look, player);
        if (c.startVolume > 0) {
            ASSERT_TRUE(app.tap(screen->muteButton));
            EXPECT_EQ(player->volume(), 0.0f);
            EXPECT_EQ(screen->muteButton.lock()->image()->name(), c.offIcon);
        }
        ASSERT_TRUE(app.tap(screen->muteButton));
        EXPECT_EQ(player->volume(), c.restored);
        EXPECT_EQ(screen->muteButton.lock()->image()->name(), c.onIcon);
        screen->dismiss(false);
        app.settle();
    }
}

TEST_F(PelmarPlayerControllerIntegrationTest, TappingTheBarEndsSeeksToTheEndsInWholeSeconds) {
    // DEFAULT places the bar in the screen's view, CUBE on a panel with an origin of its own.
    for (const int64_t look : {0, 2}) {
        SCOPED_TRACE(look);
        const auto screen = show(look, moviePlayer());
        playFor(*screen, 1.0);
        screen->player()->pause();
        const auto bar = screen->progressBarSlider.lock();
        const double middle = bar->bounds().height / 2;
        const auto tapAt = [&](double x) {
            const ui::Point point = bar->convertTo(ui::Point{x, middle}, nullptr);
            EXPECT_EQ(ui::tap(*app.window(), point), std::nullopt);
            app.settle();
            return screen->player()->currentTime().seconds();
        };
        EXPECT_EQ(tapAt(0), 0.0);
        EXPECT_EQ(tapAt(bar->bounds().width * 0.5), 2.0);
        EXPECT_EQ(tapAt(bar->bounds().width - 0.01), 4.0) << "4.99 s, truncated";
        screen->dismiss(false);
        app.settle();
    }
}

TEST_F(PelmarPlayerControllerIntegrationTest, ATapInTheBarsFirstSecondShowsTheFirstPicture) {
    // A movie whose first picture is due 0.5 s into it: the tap seeks before that picture.
    test::TempDir folder("screen-first-second");
    av::test::OffsetMovies movies;
    ASSERT_TRUE(movies.write(folder.path()));
    const auto& movie = movies.movies.front();
    ASSERT_EQ(movie.firstPictureAt, 0.5);
    const auto screen = show(0, std::make_shared<av::Player>(movie.path.string()));
    playFor(*screen, 1.0);
    ASSERT_TRUE(ui::render(*app.window()));
    const int64_t before = screen->player()->videoFramesDecoded();

    const auto bar = screen->progressBarSlider.lock();
    const ui::Point point = bar->convertTo(ui::Point{0, bar->bounds().height / 2}, nullptr);
    EXPECT_EQ(ui::tap(*app.window(), point), std::nullopt);
    app.settle();
    EXPECT_EQ(screen->player()->currentTime().seconds(), 0.0);
    ASSERT_TRUE(ui::render(*app.window()));
    // The first key frame and the few decoded ahead, once.
    EXPECT_LE(
            screen->player()->videoFramesDecoded() - before,
            av::test::OffsetMovies::kRate + 2 * (av::test::OffsetMovies::kFramesDecodedAhead + 1));
    const auto shown = screen->player()->copyCurrentPicture(0, 0);
    EXPECT_TRUE(test::ShowsFrame(shown.get(), movie.path, 0));
    screen->dismiss(false);
    app.settle();
}

TEST_F(PelmarPlayerControllerIntegrationTest, DraggingTheBarSeeksToItsWholeSecond) {
    const auto screen = show(0, moviePlayer());
    playFor(*screen, 1.0);
    screen->player()->pause();
    screen->progressBarSlider.lock()->dragTo(3.7f);
    app.settle();
    EXPECT_EQ(screen->player()->currentTime().seconds(), 3.0);
}

TEST_F(PelmarPlayerControllerIntegrationTest, TrackingTheBarPutsItAtThePlayersTime) {
    const auto screen = show(0, moviePlayer());
    playFor(*screen, 2.0);
    screen->player()->pause();
    const auto bar = screen->progressBarSlider.lock();
    // A finger takes the thumb, and lets it go, where the player is now.
    for (const bool tracking : {true, false}) {
        SCOPED_TRACE(tracking);
        bar->setValue(0.5f);
        bar->tracking.set(tracking);
        EXPECT_EQ(bar->value(), 2.0f);
    }
}

TEST_F(PelmarPlayerControllerIntegrationTest, CloseWithControlsHiddenPausesAndDismisses) {
    const auto screen = show(0, moviePlayer(), /*showsPlaybackControls=*/false);
    EXPECT_EQ(screen->playerViewController()->view()->window(), nullptr);
    EXPECT_TRUE(screen->playerViewController()->entersFullScreenWhenPlaybackBegins);
    EXPECT_FALSE(screen->playerViewController()->showsPlaybackControls);
    playFor(*screen, 1.0);
    ASSERT_TRUE(app.tap(screen->closeButton));
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
    EXPECT_EQ(screen->player()->rate(), 0.0f);
    const std::string before = screen->durationTextView.lock()->text();
    screen->player()->play();
    app.advance(2.0);
    app.settle();
    EXPECT_EQ(screen->durationTextView.lock()->text(), before) << "no updates after close";
}

TEST_F(PelmarPlayerControllerIntegrationTest, WithoutAPlayerBuildsNothing) {
    const auto screen = show(0, nullptr);
    EXPECT_EQ(screen->playerViewController(), nullptr);
    EXPECT_EQ(screen->closeButton.lock(), nullptr);
}

}  // namespace
}  // namespace pelmar
