#include "pelmar/picker/LivePhotoView.h"

#include <utility>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

LivePhotoView::LivePhotoView()
    : still_(std::make_shared<ui::ImageView>()), movie_(std::make_shared<av::PlayerView>()) {
    still_->setUserInteractionEnabled(false);
    movie_->setUserInteractionEnabled(false);
    movie_->setHidden(true);
}

LivePhotoView::~LivePhotoView() = default;

void LivePhotoView::ensureSubviews() {
    if (still_->superview()) {
        return;
    }
    insertSubview(still_, 0);
    insertSubview(movie_, 1);
    std::weak_ptr<LivePhotoView> weak = std::static_pointer_cast<LivePhotoView>(shared_from_this());
    press_ = std::make_shared<ui::LongPressGestureRecognizer>([weak](ui::GestureRecognizer& r) {
        auto self = weak.lock();
        if (self && r.state() == ui::GestureRecognizer::State::Began) {
            self->startPlayback();
        }
    });
    addGestureRecognizer(press_);
}

void LivePhotoView::setLivePhoto(std::optional<photos::LivePhoto> live) {
    ensureSubviews();
    stopPlayback();
    livePhoto_ = std::move(live);
    still_->setImage(livePhoto_ ? ui::Image::fromBitmap(livePhoto_->still) : nullptr);
}

void LivePhotoView::setContentMode(ui::ContentMode mode) {
    View::setContentMode(mode);
    still_->setContentMode(mode);
    movie_->setContentMode(mode);
}

void LivePhotoView::startPlayback() {
    if (!livePhoto_ || player_) {
        return;
    }
    ensureSubviews();
    player_ = std::make_shared<av::Player>(livePhoto_->movie.string());
    player_->setVolume(0);
    movie_->setPlayer(player_);
    movie_->setHidden(false);
    still_->setHidden(true);
    std::weak_ptr<LivePhotoView> weak = std::static_pointer_cast<LivePhotoView>(shared_from_this());
    endObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(av::kPlayerItemDidPlayToEndTimeNotification), player_->currentItem(),
            [weak] {
                if (auto self = weak.lock()) {
                    self->stopPlayback();
                }
            });
    if (auto d = delegate_.lock()) {
        d->livePhotoViewWillBeginPlayback(*this);
    }
    player_->play();
}

void LivePhotoView::stopPlayback() {
    if (!player_) {
        return;
    }
    endObserver_ = {};
    player_->pause();
    player_.reset();
    movie_->setPlayer(nullptr);
    movie_->setHidden(true);
    still_->setHidden(false);
    if (auto d = delegate_.lock()) {
        d->livePhotoViewDidEndPlayback(*this);
    }
}

void LivePhotoView::layoutSubviews() {
    View::layoutSubviews();
    ensureSubviews();
    still_->setFrame(bounds());
    movie_->setFrame(bounds());
}

}  // namespace pelmar
