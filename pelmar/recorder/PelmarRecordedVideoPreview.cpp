#include "pelmar/recorder/PelmarRecordedVideoPreview.h"

#include <mutex>
#include <utility>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/recorder/internal/PreviewPlayback.h"

namespace pelmar {

namespace {

constexpr const char* kPlayImage = "play-white";
// The pause picture's resource is named so.
constexpr const char* kPauseImage = "pause-whte";

std::shared_ptr<ui::View> build(ui::ViewController& owner) {
    auto& preview = dynamic_cast<PelmarRecordedVideoPreview&>(owner);
    std::weak_ptr<PelmarRecordedVideoPreview> weak =
            std::static_pointer_cast<PelmarRecordedVideoPreview>(preview.shared_from_this());
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::black());
    auto placeholder = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 700});
    auto bar = std::make_shared<ui::View>(ui::Rect{0, 700, 390, 144});
    bar->layer()->setBackgroundColor(ui::Color{1, 1, 1, 0.85});
    auto retake = std::make_shared<ui::Button>(ui::Rect{26, 50, 90, 44});
    retake->setTitle("Retake");
    auto play = std::make_shared<ui::Button>(ui::Rect{165, 42, 60, 60});
    play->setImage(ui::Image::named(kPlayImage), ui::ControlState::Normal);
    play->layer()->setBackgroundColor(ui::Color{0.2, 0.2, 0.2, 1});
    play->layer()->setCornerRadius(30);
    auto upload = std::make_shared<ui::Button>(ui::Rect{274, 50, 90, 44});
    upload->setTitle("Upload");
    for (const auto& b : {retake, upload}) {
        b->setTitleColor(ui::Color{0.15, 0.15, 0.15, 1}, ui::ControlState::Normal);
        b->setTitleColor(ui::Color{0.6, 0.6, 0.6, 1}, ui::ControlState::Disabled);
        b->setTitleFont(ui::Font::systemFont(17, ui::FontWeight::Medium));
        b->layer()->setBorderColor(ui::Color{0.3, 0.3, 0.3, 1});
        b->layer()->setBorderWidth(2);
        b->layer()->setCornerRadius(22);
    }
    bar->addSubview(retake);
    bar->addSubview(play);
    bar->addSubview(upload);
    root->addSubview(placeholder);
    root->addSubview(bar);
    preview.playPauseButton = play;
    preview.videoPlaceholder = placeholder;

    auto action = [weak](void (PelmarRecordedVideoPreview::*method)()) {
        return [weak, method] {
            if (auto self = weak.lock()) {
                ((*self).*method)();
            }
        };
    };
    play->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecordedVideoPreview::play));
    retake->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecordedVideoPreview::retake));
    upload->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecordedVideoPreview::upload));
    return root;
}

}  // namespace

std::shared_ptr<PelmarRecordedVideoPreview> PelmarRecordedVideoPreview::create() {
    return std::make_shared<PelmarRecordedVideoPreview>();
}

PelmarRecordedVideoPreview::PelmarRecordedVideoPreview()
    : ui::ViewController("PelmarRecordedVideoPreview"),
      playback_(std::make_unique<recorder::internal::PreviewPlayback>()) {
    static std::once_flag once;
    std::call_once(once, [] { ui::Nib::registerBuilder("PelmarRecordedVideoPreview", build); });
}

PelmarRecordedVideoPreview::~PelmarRecordedVideoPreview() = default;

std::shared_ptr<const ui::Image> PelmarRecordedVideoPreview::getImageFromResource(
        const std::string& name) {
    return ui::Image::named(name);
}

const std::shared_ptr<av::Player>& PelmarRecordedVideoPreview::player() const {
    return playback_->player();
}

bool PelmarRecordedVideoPreview::isPlaying() const {
    return playback_->isPlaying();
}

void PelmarRecordedVideoPreview::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (videoURL_) {
        initPlayer(*videoURL_);
    }
}

void PelmarRecordedVideoPreview::initPlayer(const std::filesystem::path& url) {
    auto placeholder = videoPlaceholder.lock();
    if (!isViewLoaded() || !placeholder) {
        return;
    }
    killPlayer();
    std::weak_ptr<PelmarRecordedVideoPreview> weak =
            std::static_pointer_cast<PelmarRecordedVideoPreview>(shared_from_this());
    playback_->load(url, placeholder, false, [weak] {
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock()) {
                self->itemDidFinishPlaying();
            }
        });
    });
}

void PelmarRecordedVideoPreview::killPlayer() {
    if (playback_->unload()) {
        showButtonImage(kPlayImage);
    }
}

void PelmarRecordedVideoPreview::play() {
    if (!playback_->toggle()) {
        return;
    }
    std::weak_ptr<PelmarRecordedVideoPreview> weak =
            std::static_pointer_cast<PelmarRecordedVideoPreview>(shared_from_this());
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) {
            self->showButtonImage(self->isPlaying() ? kPauseImage : kPlayImage);
        }
    });
}

void PelmarRecordedVideoPreview::itemDidFinishPlaying() {
    showButtonImage(kPlayImage);
    // The play button's state stays as it was: the first tap after the end pauses.
    playback_->rewind(false);
}

// The delegate hears of it once the screen has gone, so that what it does next (closing the
// recorder, presenting again) acts on the recorder's screen.
void PelmarRecordedVideoPreview::retake() {
    killPlayer();
    std::weak_ptr<VideoPreviewDelegate> delegate = previewDelegate_;
    dismiss(false, [delegate, url = videoURL_] {
        if (auto d = delegate.lock()) {
            d->retake(url);
        }
    });
}

void PelmarRecordedVideoPreview::upload() {
    killPlayer();
    std::weak_ptr<VideoPreviewDelegate> delegate = previewDelegate_;
    dismiss(false, [delegate, url = videoURL_] {
        auto d = delegate.lock();
        if (d && url) {
            d->uploadVideo(*url);
        }
    });
}

void PelmarRecordedVideoPreview::showButtonImage(const char* name) {
    if (auto button = playPauseButton.lock()) {
        button->setImage(getImageFromResource(name), ui::ControlState::Normal);
    }
}

}  // namespace pelmar
