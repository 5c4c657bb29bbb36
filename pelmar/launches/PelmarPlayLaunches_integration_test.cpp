#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/player/PelmarPlayer.h"
#include "pelmar/player/PelmarPlayerController.h"
#include "pelmar/player/testing/PlayerEventLog.h"
#include "testing/App.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

// A 5-second movie made once for the whole program.
class PelmarPlayLaunchesIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The player's icons, so that the snapshot shows them.
        ::setenv("PELMAR_RESOURCE_DIR", PELMAR_SOURCE_DIR "/pelmar/player/resources", 0);
        folder_ = new test::TempDir("play-launches");
        av::test::TestMovie movie;
        movie.seconds = 5;
        movie.width = 320;
        movie.height = 180;
        std::string failure;
        made_ = movie.make(moviePath(), &failure);
        failure_ = failure;
    }

    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    static std::filesystem::path moviePath() { return folder_->path() / "movie.mp4"; }

    void SetUp() override {
        ASSERT_TRUE(made_) << failure_;
        app.sdk()->setPlayerDelegate(events);
        // The plain look: one label with elapsed and total time.
        app.sdk()->getVideoPlayerConfig()->playerStyle->controllerStyle = 0;
    }

    // The styled screen once it is on screen, or null.
    std::shared_ptr<PelmarPlayerController> shownPlayer() {
        std::shared_ptr<PelmarPlayerController> screen;
        app.runUntil([&] {
            screen = std::dynamic_pointer_cast<PelmarPlayerController>(app.topViewController());
            return screen && screen->isAppeared();
        });
        return screen;
    }

    // The system player screen other than `previous` once playFromPaths has shown it (after the
    // animated dismissal and presentation), or null.
    std::shared_ptr<av::PlayerViewController> shownSystemPlayer(
            const std::shared_ptr<av::PlayerViewController>& previous = nullptr) {
        std::shared_ptr<av::PlayerViewController> screen;
        for (int i = 0; i < 3 && !screen; ++i) {
            app.settle();
            app.advance(1.0);
            app.settle();
            screen = std::dynamic_pointer_cast<av::PlayerViewController>(app.topViewController());
            if (screen && (screen == previous || !screen->isAppeared())) {
                screen = nullptr;
            }
        }
        return screen;
    }

    std::string label(const PelmarPlayerController& screen) {
        return screen.durationTextView.lock()->text();
    }

    // Plays `screen`'s video to its end: the player reports the end and the screen goes.
    void expectPlaysToTheEndAndDismisses(const std::shared_ptr<PelmarPlayerController>& screen) {
        app.advance(6);
        ASSERT_TRUE(app.runUntil([&] { return events->has("ended"); }));
        ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
        EXPECT_FALSE(screen->presentingViewController());
    }

    static inline test::TempDir* folder_ = nullptr;
    static inline bool made_ = false;
    static inline std::string failure_;

    test::App app;
    std::shared_ptr<test::PlayerEventLog> events = std::make_shared<test::PlayerEventLog>();
};

TEST_F(PelmarPlayLaunchesIntegrationTest, PlaysALocalMovieWithLabelsSeekAndEnd) {
    app.sdk()->playFromUri({moviePath().string()});
    const auto screen = shownPlayer();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    EXPECT_EQ(screen->lastPresentationAnimated(), false);
    EXPECT_EQ(screen->nibName(), "PelmarPlayerController");
    ASSERT_TRUE(app.runUntil([&] { return events->has("ready") && events->has("playing"); }));

    app.advance(1.0);
    app.settle();
    EXPECT_EQ(label(*screen), "0:01/0:05");
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(label(*screen), "0:02/0:05");
    EXPECT_EQ(screen->progressBarSlider.lock()->maximumValue(), 5.0f);
    app.writeSnapshot(*screen->view(), "PelmarPlayerController_playing.png");

    // A tap on the bar's middle seeks to the middle, in whole seconds.
    ASSERT_TRUE(app.tap(screen->progressBarSlider));
    app.settle();
    EXPECT_TRUE(events->has("seek 2")) << ::testing::PrintToString(events->events());
    EXPECT_NEAR(screen->player()->currentTime().seconds(), 2.0, 1e-6);

    expectPlaysToTheEndAndDismisses(screen);
    const auto told = events->events();
    EXPECT_EQ(std::count(told.begin(), told.end(), "ended"), 1);
}

TEST_F(PelmarPlayLaunchesIntegrationTest, PlaysAServiceVideoByTokenOverHTTP) {
    test::ServiceEmulator emulator;
    emulator.start();
    // A facade with service objects, speaking to the emulator.
    auto facade = std::make_shared<Pelmar>("app-1");
    facade->config().setCdnAPIUrl(emulator.cdnApiBase());
    facade->config().setServerAPIUrl(emulator.apiBase());
    facade->setPlayerDelegate(events);
    facade->getVideoPlayerConfig()->playerStyle->controllerStyle = 0;
    const auto token = emulator.seedResource(test::MediaKind::Video, "app-1", moviePath()).token;
    facade->playVideo({token});
    const auto screen = shownPlayer();
    ASSERT_TRUE(screen);
    ASSERT_TRUE(app.runUntil([&] { return events->has("playing"); }, 30));
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(label(*screen), "0:01/0:05");
    expectPlaysToTheEndAndDismisses(screen);
    emulator.stop();
}

TEST_F(PelmarPlayLaunchesIntegrationTest, AMissingFileOrA404NeverPlaysAndTheScreenStillCloses) {
    test::ServiceEmulator emulator;
    emulator.start();
    const std::string missing404 = emulator.cdnApiBase() + "/v1/applications/"
                                   + app.sdk()->getAppToken() + "/videos/vid-404/video.mp4";
    for (const std::string& source : {(folder_->path() / "none.mp4").string(), missing404}) {
        SCOPED_TRACE(source);
        app.sdk()->playFromUri({source});
        const auto screen = shownPlayer();
        ASSERT_TRUE(screen);
        ASSERT_TRUE(app.runUntil(
                [&] { return !screen->player()->currentItem() || screen->player()->error(); }));
        app.advance(2.0);
        app.settle();
        EXPECT_EQ(label(*screen), "0:00/0:00");
        EXPECT_FALSE(events->has("ready"));
        EXPECT_FALSE(events->has("playing"));
        ASSERT_TRUE(app.tap(screen->closeButton));
        ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
    }
    emulator.stop();
}

TEST_F(PelmarPlayLaunchesIntegrationTest, HidePlayerControlsTakesOnlyTheExactTextTrue) {
    const struct {
        const char* name;
        Json theme;
        bool shows;
    } cases[] = {
            {"True", Json{{"hidePlayerControls", "true"}}, false},
            {"UpperCase", Json{{"hidePlayerControls", "TRUE"}}, true},
            {"Boolean", Json{{"hidePlayerControls", true}}, true},
            {"Absent", Json::object(), true},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app.sdk()->setThemeArgsForPlayer(c.theme);
        app.sdk()->playFromUri({moviePath().string()});
        const auto screen = shownPlayer();
        ASSERT_TRUE(screen);
        EXPECT_EQ(screen->showsPlaybackControls(), c.shows);
        EXPECT_EQ(screen->playerViewController()->view()->window() != nullptr, c.shows);
        ASSERT_TRUE(app.tap(screen->closeButton));
        ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
        EXPECT_EQ(screen->player()->rate(), 0.0f) << "closing pauses the sound";
    }
}

TEST_F(PelmarPlayLaunchesIntegrationTest, AnAdsURLIsIgnoredAndTheVideoPlays) {
    app.sdk()->setAdsURL("https://ads.example/tag");
    app.sdk()->playFromUri({moviePath().string()});
    ASSERT_TRUE(shownPlayer());
    EXPECT_TRUE(app.runUntil([&] { return events->has("playing"); }));
}

TEST_F(PelmarPlayLaunchesIntegrationTest, PlayFromPathsPlaysACopyOfTheFirstPathInTheSystemPlayer) {
    app.sdk()->playFromPaths({moviePath().string(), "/second/ignored.mp4"});
    const auto screen = shownSystemPlayer();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(screen->showsPlaybackControls);
    const auto player = std::dynamic_pointer_cast<av::QueuePlayer>(screen->player());
    ASSERT_TRUE(player);
    EXPECT_EQ(player->items().size(), 1u);
    const auto copy = foundation::Sandbox::documentsDirectory() / "video.mp4";
    EXPECT_EQ(std::filesystem::file_size(copy), std::filesystem::file_size(moviePath()));
    EXPECT_TRUE(app.runUntil([&] { return player->rate() == 1.0f; }));

    // The copy itself is played as it is, not removed first.
    app.sdk()->playFromPaths({copy.string()});
    const auto again = shownSystemPlayer(screen);
    ASSERT_TRUE(again);
    EXPECT_EQ(std::filesystem::file_size(copy), std::filesystem::file_size(moviePath()));

    // A path that cannot be copied shows nothing.
    app.sdk()->playFromPaths({(folder_->path() / "none.mp4").string()});
    app.settle();
    EXPECT_EQ(app.topViewController(), again);
}

TEST_F(PelmarPlayLaunchesIntegrationTest, PlayFromPathsFirstDismissesTheScreenOnTop) {
    // A sheet covers the root screen: it goes, then the player comes over the root.
    auto sheet = std::make_shared<ui::ViewController>();
    app.root()->present(sheet, false);
    app.settle();
    app.sdk()->playFromPaths({moviePath().string()});
    const auto screen = shownSystemPlayer();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->presentingViewController(), app.root());
    EXPECT_FALSE(sheet->presentingViewController());

    screen->dismiss(false);
    app.settle();
    ASSERT_EQ(app.topViewController(), app.root());

    // When the screen found on top belongs to a navigation stack, the player is pushed onto it.
    auto navigation = std::make_shared<ui::NavigationController>(app.root());
    navigation->view();  // the stack takes its root screen in as a child with its view
    app.sdk()->playFromPaths({moviePath().string()});
    for (int i = 0; i < 3; ++i) {
        app.settle();
        app.advance(1.0);
    }
    app.settle();
    ASSERT_EQ(navigation->viewControllers().size(), 2u);
    EXPECT_TRUE(std::dynamic_pointer_cast<av::PlayerViewController>(
            navigation->viewControllers().back()));
    EXPECT_EQ(app.root()->presentedViewController(), nullptr);
}

}  // namespace
}  // namespace pelmar
