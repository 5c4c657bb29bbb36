#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/Player.h"
#include "pelmar/recorder/PelmarRecordedVideoPreview.h"
#include "pelmar/recorder/testing/PreviewScreenFixture.h"

namespace pelmar {
namespace {

// Hears the preview's answers, and whether the preview was already closing when it did.
class Answers : public VideoPreviewDelegate {
public:
    void retake(const std::optional<std::filesystem::path>& url) override {
        retakes.push_back(url);
        closingFirst.push_back(closing());
    }

    void uploadVideo(const std::filesystem::path& url) override {
        uploads.push_back(url);
        closingFirst.push_back(closing());
    }

    bool closing() const {
        auto screen = preview.lock();
        return screen && (screen->isBeingDismissed() || !screen->presentingViewController());
    }

    std::weak_ptr<PelmarRecordedVideoPreview> preview;
    std::vector<std::optional<std::filesystem::path>> retakes;
    std::vector<std::filesystem::path> uploads;
    std::vector<bool> closingFirst;
};

class PelmarRecordedVideoPreviewTest
    : public test::PreviewScreenFixture<PelmarRecordedVideoPreview,
                                        &PelmarRecordedVideoPreview::player> {
protected:
    PelmarRecordedVideoPreviewTest() {
        use(PelmarRecordedVideoPreview::create(), answers);
        answers->preview = preview;
    }

    std::filesystem::path other = makeMovie("other.mp4", 2.0);
    std::shared_ptr<Answers> answers = std::make_shared<Answers>();
};

TEST_F(PelmarRecordedVideoPreviewTest, WithoutAVideoThereIsNoPlayerAndRetakeForwardsNone) {
    presentWith(std::nullopt);
    EXPECT_EQ(preview->player(), nullptr);
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    EXPECT_FALSE(preview->isPlaying());
    EXPECT_EQ(buttonImage(), "play-white");
    preview->retake();
    app.settle();
    ASSERT_EQ(answers->retakes.size(), 1U);
    EXPECT_EQ(answers->retakes[0], std::nullopt);
    EXPECT_EQ(app.topViewController(), app.root());

    // Upload without a video only closes the screen.
    presentWith(std::nullopt);
    preview->upload();
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_TRUE(answers->uploads.empty());
}

TEST_F(PelmarRecordedVideoPreviewTest, AfterTheEndTheFirstTapLeavesItStoppedAndTheSecondPlays) {
    presentWith(movie);
    auto player = preview->player();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->rate(), 0);  // no playback before the first tap
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    EXPECT_EQ(player->rate(), 1);
    EXPECT_EQ(buttonImage(), "pause-whte");

    app.advance(1.5);
    app.settle();
    EXPECT_EQ(player->rate(), 0);
    EXPECT_NEAR(player->currentTime().seconds(), 0, 1e-9);
    EXPECT_EQ(buttonImage(), "play-white");
    EXPECT_TRUE(preview->isPlaying());  // the button's own state is left as it was

    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    app.advance(0.3);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_NEAR(player->currentTime().seconds(), 0, 1e-9);
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    app.advance(0.5);
    EXPECT_EQ(player->rate(), 1);
    EXPECT_NEAR(player->currentTime().seconds(), 0.5, 0.05);
}

TEST_F(PelmarRecordedVideoPreviewTest, ShownAgainWithAnotherVideoItBuildsANewPlayer) {
    presentWith(movie);
    auto first = preview->player();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    preview->dismiss(false);
    app.settle();
    presentWith(other);
    auto second = preview->player();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(first->rate(), 0);  // the old one was stopped
    EXPECT_EQ(second->rate(), 0);
    EXPECT_NEAR(second->currentItem()->duration().seconds(), 2.0, 0.1);
    EXPECT_EQ(buttonImage(), "play-white");
}

TEST_F(PelmarRecordedVideoPreviewTest, RetakeAndUploadCloseTheScreenBeforeTheDelegateHears) {
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "retake");
        presentWith(movie);
        if (upload) {
            preview->upload();
        } else {
            preview->retake();
        }
        app.settle();
        EXPECT_EQ(app.topViewController(), app.root());
        EXPECT_EQ(preview->player(), nullptr);
    }
    ASSERT_EQ(answers->retakes.size(), 1U);
    EXPECT_EQ(answers->retakes[0], movie);
    ASSERT_EQ(answers->uploads.size(), 1U);
    EXPECT_EQ(answers->uploads[0], movie);
    EXPECT_EQ(answers->closingFirst, (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace pelmar
