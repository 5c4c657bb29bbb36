#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/recorder/VideoPreviewProtocol.h"

namespace pelmar {

class Pelmar;
class CustomVideoRecorder;

namespace recorder::internal {
class PreviewPlayback;
}  // namespace recorder::internal

namespace av {
class Player;
class PlayerView;
}  // namespace av

// CustomVideoPlayer: the preview screen of a custom recording (interface file
// "CustomVideoPlayer"): the movie at videoURL() in a placeholder view with one play/pause button
// ("ic_play" / "ic_pause"), and three ways out: retake (the delegate discards the file), upload
// (a copy in the temporary folder goes to the facade's uploadFromPath) and close. Each way out
// stops the movie, dismisses this screen without animation and then the recorder screen that
// presented it. Every appearance builds a fresh, paused player at the start of the movie.
// Ownership: made with create(); the presenter holds it while shown. Holds the facade; the
// preview delegate and the recorder are held weakly (the recorder owns this screen).
// Threads: main thread only; the end of the movie is handled on a later main-loop turn.
// Errors: none reported. Without a videoURL or a facade the upload is skipped and the screen
// still closes both screens; a file that cannot be copied is uploaded from where it is.
class CustomVideoPlayer : public ui::ViewController, public VideoPreviewProtocol {
public:
    static std::shared_ptr<CustomVideoPlayer> create(std::shared_ptr<Pelmar> pelmar);

    explicit CustomVideoPlayer(std::shared_ptr<Pelmar> pelmar);

    ~CustomVideoPlayer() override;

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::Button> deleteButton;
    std::weak_ptr<ui::Button> uploadButton;
    std::weak_ptr<ui::Button> playPauseButton;
    std::weak_ptr<ui::View> videoPlaceholder;

    // Each appearance shows the retake and upload buttons when set and hides them when not.
    bool isRecordingPreview = false;

    const std::shared_ptr<Pelmar>& pelmar() const { return pelmar_; }

    std::optional<std::filesystem::path> videoURL() const override { return videoURL_; }

    void setVideoURL(std::optional<std::filesystem::path> url) override {
        videoURL_ = std::move(url);
    }

    std::shared_ptr<VideoPreviewDelegate> previewDelegate() const override {
        return previewDelegate_.lock();
    }

    void setPreviewDelegate(std::weak_ptr<VideoPreviewDelegate> delegate) override {
        previewDelegate_ = std::move(delegate);
    }

    // The recorder screen to dismiss after this one.
    std::shared_ptr<CustomVideoRecorder> videoRecorder() const { return videoRecorder_.lock(); }

    void setVideoRecorder(std::weak_ptr<CustomVideoRecorder> recorder) {
        videoRecorder_ = std::move(recorder);
    }

    // The player of the current file and the view that shows it; null without one.
    const std::shared_ptr<av::Player>& embeddedPlayer() const;

    const std::shared_ptr<av::PlayerView>& embeddedPlayerView() const;

    // Playback was started by the play button (and not paused or ended since).
    bool isPlaying() const;

    // Actions, as the controls send them.
    void retake();

    void play();

    void upload();

    void close();

    // Stops and removes the player (when there is one) and shows "ic_play".
    void killPlayer();

    // A fresh paused player for `url` in the placeholder, when videoURL is set and the view is
    // loaded.
    void initPlayer(const std::filesystem::path& url);

    // The movie reached its end: "ic_play", paused, back at the start.
    void itemDidFinishPlaying();

    // Uploads a copy of `url` through the facade, then closes both screens.
    void uploadVideo(const std::optional<std::filesystem::path>& url);

    // The named image of the SDK's resources.
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    void viewDidAppear(bool animated) override;

    bool shouldAutorotate() const override { return false; }

    ui::StatusBarStyle preferredStatusBarStyle() const override {
        return ui::StatusBarStyle::LightContent;
    }

private:
    // Dismisses this screen without animation, then the recorder.
    void closeBoth();

    std::shared_ptr<Pelmar> pelmar_;
    std::optional<std::filesystem::path> videoURL_;
    std::weak_ptr<VideoPreviewDelegate> previewDelegate_;
    std::weak_ptr<CustomVideoRecorder> videoRecorder_;
    const std::unique_ptr<recorder::internal::PreviewPlayback> playback_;
};

}  // namespace pelmar
