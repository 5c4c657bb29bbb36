#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/custom/CustomVideoPlayer.h"
#include "pelmar/recorder/testing/PreviewScreenFixture.h"

namespace pelmar {
namespace {

// Hears the preview's retakes.
class RetakeListener : public VideoPreviewDelegate {
public:
    void retake(const std::optional<std::filesystem::path>& url) override {
        retakes.push_back(url);
    }

    void uploadVideo(const std::filesystem::path& url) override { uploads.push_back(url); }

    std::vector<std::optional<std::filesystem::path>> retakes;
    std::vector<std::filesystem::path> uploads;
};

class CustomVideoPlayerTest
    : public test::PreviewScreenFixture<CustomVideoPlayer, &CustomVideoPlayer::embeddedPlayer> {
protected:
    CustomVideoPlayerTest() { use(CustomVideoPlayer::create(app.sdk()), listener); }

    std::shared_ptr<RetakeListener> listener = std::make_shared<RetakeListener>();
};

TEST_F(CustomVideoPlayerTest, PlaysPausesAndComesBackToTheStartAtTheEnd) {
    presentWith(movie);
    auto player = preview->embeddedPlayer();
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(preview->isPlaying());
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(preview->embeddedPlayerView()->superview(), preview->videoPlaceholder.lock());

    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    EXPECT_TRUE(preview->isPlaying());
    EXPECT_EQ(player->rate(), 1);
    EXPECT_EQ(buttonImage(), "ic_pause");
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    EXPECT_FALSE(preview->isPlaying());
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(buttonImage(), "ic_play");

    // Played to the end: back at the start, paused, and the next tap plays again.
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.advance(1.5);
    app.settle();
    EXPECT_FALSE(preview->isPlaying());
    EXPECT_EQ(buttonImage(), "ic_play");
    EXPECT_EQ(player->rate(), 0);
    EXPECT_NEAR(player->currentTime().seconds(), 0, 1e-9);
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    app.advance(0.5);
    EXPECT_TRUE(preview->isPlaying());
    EXPECT_NEAR(player->currentTime().seconds(), 0.5, 0.05);
}

TEST_F(CustomVideoPlayerTest, OnlyARecordingPreviewShowsRetakeAndUpload) {
    // One preview shown again and again: each appearance follows the flag as it is then.
    for (bool recording : {false, true, false}) {
        SCOPED_TRACE(recording ? "recording preview" : "plain preview");
        preview->isRecordingPreview = recording;
        presentWith(movie);
        EXPECT_EQ(preview->deleteButton.lock()->isHidden(), !recording);
        EXPECT_EQ(preview->uploadButton.lock()->isHidden(), !recording);
        preview->close();
        app.settle();
        EXPECT_EQ(app.topViewController(), app.root());
        EXPECT_EQ(preview->embeddedPlayer(), nullptr);
    }
}

TEST_F(CustomVideoPlayerTest, AppearingAgainBuildsAFreshPausedPlayer) {
    presentWith(movie);
    auto first = preview->embeddedPlayer();
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.advance(0.3);
    auto cover = std::make_shared<ui::ViewController>();
    cover->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    preview->present(cover, false);
    app.settle();
    cover->dismiss(false);
    app.settle();
    auto second = preview->embeddedPlayer();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(first->rate(), 0);
    EXPECT_FALSE(preview->isPlaying());
    EXPECT_EQ(second->rate(), 0);
    EXPECT_NEAR(second->currentTime().seconds(), 0, 1e-9);
    EXPECT_EQ(buttonImage(), "ic_play");
}

TEST_F(CustomVideoPlayerTest, WithoutAFileRetakeStillTellsTheDelegateAndUploadJustCloses) {
    presentWith(std::nullopt);
    EXPECT_EQ(preview->embeddedPlayer(), nullptr);
    ASSERT_TRUE(app.tap(preview->playPauseButton));  // no player: nothing happens
    app.settle();
    EXPECT_FALSE(preview->isPlaying());
    preview->isRecordingPreview = true;
    preview->retake();
    app.settle();
    ASSERT_EQ(listener->retakes.size(), 1U);
    EXPECT_EQ(listener->retakes[0], std::nullopt);
    EXPECT_EQ(app.topViewController(), app.root());

    presentWith(std::nullopt);
    preview->upload();
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_TRUE(listener->uploads.empty());  // the preview uploads itself, never through here
}

}  // namespace
}  // namespace pelmar
