#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/recorder/VideoPreviewProtocol.h"

namespace pelmar {

namespace recorder::internal {
class PreviewPlayback;
}  // namespace recorder::internal

// PelmarRecordedVideoPreview: the screen that plays a finished recording (interface file
// "PelmarRecordedVideoPreview") with one play/pause button, and offers retake and upload. Each
// appearance builds a fresh player for the videoURL of that moment; playback waits for the first
// tap. At the end the video stops at its start with the button showing play; the button's own
// state is left as it was, so the first tap after the end pauses the stopped video and the second
// plays it. Retake and upload remove the player and close the screen before the delegate hears
// of it.
// Ownership: made with create(); the recorder keeps it and is its delegate, held weakly.
// Threads: main thread only.
// Errors: none reported: a file the player cannot play leaves the picture empty and the buttons
//     working. Upload without a videoURL only closes the screen.
class PelmarRecordedVideoPreview : public ui::ViewController, public VideoPreviewProtocol {
public:
    static std::shared_ptr<PelmarRecordedVideoPreview> create();

    // The SDK's picture resource `name` (a named image without pixels when it does not ship).
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    PelmarRecordedVideoPreview();
    ~PelmarRecordedVideoPreview() override;

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

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::Button> playPauseButton;
    std::weak_ptr<ui::View> videoPlaceholder;

    // The player of the current appearance, if any, and whether the button last asked it to play.
    const std::shared_ptr<av::Player>& player() const;

    bool isPlaying() const;

    // Actions, as the buttons send them.
    void play();

    void retake();

    void upload();

    void viewDidAppear(bool animated) override;

private:
    void initPlayer(const std::filesystem::path& url);
    void killPlayer();
    void itemDidFinishPlaying();
    void showButtonImage(const char* name);

    std::optional<std::filesystem::path> videoURL_;
    std::weak_ptr<VideoPreviewDelegate> previewDelegate_;
    const std::unique_ptr<recorder::internal::PreviewPlayback> playback_;
};

}  // namespace pelmar
