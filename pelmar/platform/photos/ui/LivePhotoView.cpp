#include "pelmar/platform/photos/ui/LivePhotoView.h"

#include <utility>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::photos {

LivePhotoView::LivePhotoView(Private, ui::Rect frame)
    : ui::View(frame),
      still_(std::make_shared<ui::ImageView>()),
      movie_(std::make_shared<av::PlayerView>()) {
    still_->setUserInteractionEnabled(false);
    movie_->setUserInteractionEnabled(false);
    movie_->setHidden(true);
}

LivePhotoView::~LivePhotoView() = default;

std::shared_ptr<LivePhotoView> LivePhotoView::create(ui::Rect frame) {
    auto view = std::make_shared<LivePhotoView>(Private{}, frame);
    view->addSubview(view->still_);
    view->addSubview(view->movie_);
    view->still_->setFrame(view->bounds());
    view->movie_->setFrame(view->bounds());
    std::weak_ptr<LivePhotoView> weak = view;
    view->playback_ =
            std::make_shared<ui::LongPressGestureRecognizer>([weak](ui::GestureRecognizer& press) {
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

void LivePhotoView::setLivePhoto(std::optional<LivePhoto> live) {
    stopPlayback();
    livePhoto_ = std::move(live);
    still_->setImage(livePhoto_ && livePhoto_->still ? ui::Image::fromBitmap(livePhoto_->still)
                                                     : nullptr);
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
    player_ = std::make_shared<av::Player>(av::PlayerItem::create(livePhoto_->movie.string()));
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
    still_->setFrame(bounds());
    movie_->setFrame(bounds());
    // A content mode set through a plain View reaches the still and the movie here.
    still_->setContentMode(contentMode());
    movie_->setContentMode(contentMode());
}

}  // namespace pelmar::photos
