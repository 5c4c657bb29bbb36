#include "pelmar/imageviewer/internal/LivePhotoView.h"

#include "pelmar/platform/av/PlayerItem.h"

namespace pelmar::internal {

std::shared_ptr<LivePhotoView> LivePhotoView::create(ui::Rect frame) {
    auto view = std::make_shared<LivePhotoView>(frame);
    view->playback_ = std::make_shared<ui::LongPressGestureRecognizer>();
    std::weak_ptr<LivePhotoView> weak = view;
    view->playback_->addAction([weak](ui::GestureRecognizer& press) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        switch (press.state()) {
            case ui::GestureRecognizer::State::Began:
                self->startPlayback();
                break;
            case ui::GestureRecognizer::State::Ended:
            case ui::GestureRecognizer::State::Cancelled:
            case ui::GestureRecognizer::State::Failed:
                self->stopPlayback();
                break;
            default:
                break;
        }
    });
    view->addGestureRecognizer(view->playback_);
    return view;
}

void LivePhotoView::setLivePhoto(std::optional<photos::LivePhoto> livePhoto) {
    stopPlayback();
    livePhoto_ = std::move(livePhoto);
    setImage(livePhoto_ && livePhoto_->still ? ui::Image::fromBitmap(livePhoto_->still) : nullptr);
}

void LivePhotoView::startPlayback() {
    if (!livePhoto_ || playerView_) {
        return;
    }
    playerView_ = std::make_shared<av::PlayerView>(bounds());
    auto player = std::make_shared<av::Player>(av::PlayerItem::create(livePhoto_->movie.string()));
    playerView_->setPlayer(player);
    addSubview(playerView_);
    player->play();
}

void LivePhotoView::stopPlayback() {
    if (!playerView_) {
        return;
    }
    if (auto player = playerView_->player()) {
        player->pause();
    }
    playerView_->removeFromSuperview();
    playerView_.reset();
}

}  // namespace pelmar::internal
