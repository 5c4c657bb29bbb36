#include "pelmar/recorder/custom/CustomVideoPlayer.h"

#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/recorder/custom/CustomNibs.h"
#include "pelmar/recorder/custom/CustomUpload.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "pelmar/recorder/internal/PreviewPlayback.h"

namespace pelmar {

namespace {

constexpr const char* kPlayImage = "ic_play";
constexpr const char* kPauseImage = "ic_pause";

template <class F>
void onMain(const std::weak_ptr<CustomVideoPlayer>& weak, F fn) {
    dispatch::Queue::main()->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

}  // namespace

std::shared_ptr<CustomVideoPlayer> CustomVideoPlayer::create(std::shared_ptr<Pelmar> pelmar) {
    return std::make_shared<CustomVideoPlayer>(std::move(pelmar));
}

CustomVideoPlayer::CustomVideoPlayer(std::shared_ptr<Pelmar> pelmar)
    : ui::ViewController("CustomVideoPlayer"),
      pelmar_(std::move(pelmar)),
      playback_(std::make_unique<recorder::internal::PreviewPlayback>()) {
    recorder::internal::registerCustomNibs();
}

CustomVideoPlayer::~CustomVideoPlayer() = default;

const std::shared_ptr<av::Player>& CustomVideoPlayer::embeddedPlayer() const {
    return playback_->player();
}

const std::shared_ptr<av::PlayerView>& CustomVideoPlayer::embeddedPlayerView() const {
    return playback_->view();
}

bool CustomVideoPlayer::isPlaying() const {
    return playback_->isPlaying();
}

std::shared_ptr<const ui::Image> CustomVideoPlayer::getImageFromResource(const std::string& name) {
    return ui::Image::named(name);
}

void CustomVideoPlayer::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (videoURL_) {
        initPlayer(*videoURL_);
    }
    // Set on every appearance, so a preview that becomes a recording preview shows them again.
    for (const auto& weakButton : {deleteButton, uploadButton}) {
        if (auto b = weakButton.lock()) {
            b->setHidden(!isRecordingPreview);
        }
    }
}

void CustomVideoPlayer::initPlayer(const std::filesystem::path& url) {
    if (!videoURL_ || !isViewLoaded()) {
        return;
    }
    killPlayer();
    std::weak_ptr<CustomVideoPlayer> weak =
            std::static_pointer_cast<CustomVideoPlayer>(shared_from_this());
    playback_->load(url, videoPlaceholder.lock(), true, [weak] {
        onMain(weak, [](CustomVideoPlayer& self) { self.itemDidFinishPlaying(); });
    });
}

void CustomVideoPlayer::killPlayer() {
    if (!playback_->unload()) {
        return;
    }
    if (auto button = playPauseButton.lock()) {
        button->setImage(getImageFromResource(kPlayImage), ui::ControlState::Normal);
    }
}

void CustomVideoPlayer::play() {
    if (!playback_->toggle()) {
        return;
    }
    onMain(std::static_pointer_cast<CustomVideoPlayer>(shared_from_this()),
           [](CustomVideoPlayer& self) {
               if (auto button = self.playPauseButton.lock()) {
                   button->setImage(
                           getImageFromResource(self.isPlaying() ? kPauseImage : kPlayImage),
                           ui::ControlState::Normal);
               }
           });
}

void CustomVideoPlayer::itemDidFinishPlaying() {
    if (auto button = playPauseButton.lock()) {
        button->setImage(getImageFromResource(kPlayImage), ui::ControlState::Normal);
    }
    playback_->rewind(true);
}

void CustomVideoPlayer::retake() {
    killPlayer();
    if (auto delegate = previewDelegate()) {
        delegate->retake(videoURL_);
    }
    closeBoth();
}

void CustomVideoPlayer::upload() {
    killPlayer();
    uploadVideo(videoURL_);
}

void CustomVideoPlayer::uploadVideo(const std::optional<std::filesystem::path>& url) {
    if (url) {
        recorder::internal::uploadCustomRecording(pelmar_, *url);
    }
    killPlayer();
    closeBoth();
}

void CustomVideoPlayer::close() {
    killPlayer();
    closeBoth();
}

void CustomVideoPlayer::closeBoth() {
    std::weak_ptr<CustomVideoRecorder> recorder = videoRecorder_;
    dismiss(false, [recorder] {
        if (auto r = recorder.lock()) {
            r->dismiss(false);
        }
    });
}

}  // namespace pelmar
