#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/recorder/VideoPreviewDelegate.h"
#include "testing/App.h"

namespace pelmar::test {

// PreviewScreenFixture: the fixture of the screens that show a recorded movie (the camera
// screen's and the custom recorder's previews): a one-second movie in Documents, the screen made
// full-screen with its delegate, and presenting it on a movie until its player is ready.
// `PlayerOf` is the screen's getter of its player.
// Ownership: owns the App, the screen and the delegate.
// Threads: main thread only.
// Errors: helpers fail the test (ASSERT/EXPECT) when a movie cannot be made or a player does
//     not get ready.
template <class Screen, const std::shared_ptr<av::Player>& (Screen::*PlayerOf)() const>
class PreviewScreenFixture : public ::testing::Test {
protected:
    // A 320 x 180 movie of `seconds` named `name` in Documents.
    static std::filesystem::path makeMovie(const std::string& name, double seconds) {
        const auto path = foundation::Sandbox::documentsDirectory() / name;
        std::string failure;
        EXPECT_TRUE(av::test::TestMovie(seconds, 320, 180, 30, 30).make(path, &failure)) << failure;
        return path;
    }

    // Makes `screen` the preview under test, telling `delegate`.
    void use(std::shared_ptr<Screen> screen,
             const std::shared_ptr<VideoPreviewDelegate>& delegate) {
        preview = std::move(screen);
        preview->setPreviewDelegate(delegate);
        preview->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    }

    std::shared_ptr<av::Player> screenPlayer() const { return ((*preview).*PlayerOf)(); }

    // Presents the preview on `url` and waits until its player, if it makes one, is ready.
    void presentWith(std::optional<std::filesystem::path> url) {
        preview->setVideoURL(std::move(url));
        app.root()->present(preview, false);
        app.settle();
        if (screenPlayer()) {
            ASSERT_TRUE(app.runUntil([&] {
                return screenPlayer()->status.get() == av::Player::Status::ReadyToPlay;
            }));
        }
    }

    // The name of the play/pause button's picture.
    std::string buttonImage() const {
        return preview->playPauseButton.lock()->image(ui::ControlState::Normal)->name();
    }

    App app;
    std::filesystem::path movie = makeMovie("clip.mp4", 1.0);
    std::shared_ptr<Screen> preview;
};

}  // namespace pelmar::test
