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
    : ui::ViewController("CustomVideoPlayer"), pelmar_(std::move(pelmar)) {
    internal::registerCustomNibs();
}

CustomVideoPlayer::~CustomVideoPlayer() {
    if (player_) {
        player_->pause();
    }
}

std::shared_ptr<const ui::Image> CustomVideoPlayer::getImageFromResource(const std::string& name) {
    return ui::Image::named(name);
}

void CustomVideoPlayer::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (videoURL_) {
        initPlayer(*videoURL_);
    }
    if (!isRecordingPreview) {
        for (const auto& weakButton : {deleteButton, uploadButton}) {
            if (auto b = weakButton.lock()) {
                b->setHidden(true);
            }
        }
    }
}

void CustomVideoPlayer::initPlayer(const std::filesystem::path& url) {
    if (!videoURL_ || !isViewLoaded()) {
        return;
    }
    killPlayer();
    auto item = av::PlayerItem::create(url.string());
    std::weak_ptr<CustomVideoPlayer> weak =
            std::static_pointer_cast<CustomVideoPlayer>(shared_from_this());
    endToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(av::kPlayerItemDidPlayToEndTimeNotification), item,
            [weak] { onMain(weak, [](CustomVideoPlayer& self) { self.itemDidFinishPlaying(); }); });
    player_ = std::make_shared<av::Player>(item);
    playerView_ = std::make_shared<av::PlayerView>();
    playerView_->setPlayer(player_);
    if (auto placeholder = videoPlaceholder.lock()) {
        // Inside the placeholder, so its own bounds (not its frame) give the picture's place.
        playerView_->setFrame(placeholder->bounds());
        placeholder->addSubview(playerView_);
    }
    playing_ = false;
}

void CustomVideoPlayer::killPlayer() {
    if (!player_) {
        return;
    }
    player_->pause();
    endToken_.reset();
    if (playerView_) {
        playerView_->removeFromSuperview();
    }
    playerView_.reset();
    player_.reset();
    playing_ = false;
    if (auto button = playPauseButton.lock()) {
        button->setImage(getImageFromResource(kPlayImage), ui::ControlState::Normal);
    }
}

void CustomVideoPlayer::play() {
    if (!player_) {
        return;
    }
    if (playing_) {
        player_->pause();
    } else {
        player_->play();
    }
    playing_ = !playing_;
    onMain(std::static_pointer_cast<CustomVideoPlayer>(shared_from_this()),
           [](CustomVideoPlayer& self) {
               if (auto button = self.playPauseButton.lock()) {
                   button->setImage(getImageFromResource(self.playing_ ? kPauseImage : kPlayImage),
                                    ui::ControlState::Normal);
               }
           });
}

void CustomVideoPlayer::itemDidFinishPlaying() {
    if (auto button = playPauseButton.lock()) {
        button->setImage(getImageFromResource(kPlayImage), ui::ControlState::Normal);
    }
    if (player_) {
        player_->pause();
        player_->seek(media::Time::make(0, 1));
    }
    playing_ = false;
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
        internal::uploadCustomRecording(pelmar_, *url);
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
