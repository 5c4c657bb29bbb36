#include "pelmar/imageloader/PelmarAnimatedImageView.h"

#include <cmath>
#include <cstdint>

#include "pelmar/imageloader/PelmarRemoteWeakProxy.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

std::shared_ptr<PelmarAnimatedImageView> PelmarAnimatedImageView::createWithAnimatedImage(
        std::shared_ptr<PelmarCachedAnimatedImage> image) {
    auto view = std::make_shared<PelmarAnimatedImageView>(ui::Rect{});
    view->setAnimatedImage(std::move(image));
    return view;
}

std::weak_ptr<PelmarAnimatedImageView> PelmarAnimatedImageView::weakSelf() {
    return std::static_pointer_cast<PelmarAnimatedImageView>(shared_from_this());
}

void PelmarAnimatedImageView::setAnimatedImage(std::shared_ptr<PelmarCachedAnimatedImage> image) {
    if (image && image == animatedImage_ && image->playbackReady()) {
        return;
    }
    auto previous = std::move(animatedImage_);
    animatedImage_ = std::move(image);
    if (animatedImage_ != previous) {
        // A different animation starts from its own beginning: no loops played, no frame shown.
        resetPlayback();
    }
    if (!animatedImage_) {
        setCoverImage(nullptr);
    } else {
        initializeAnimatedImage(animatedImage_);
    }
    if (previous && previous != animatedImage_) {
        dispatch::Queue::global()->async(
                [previous = std::move(previous)]() mutable { previous.reset(); });
    }
}

void PelmarAnimatedImageView::resetPlayback() {
    if (displayLink_) {
        displayLink_->invalidate();
        displayLink_.reset();
    }
    playHead_ = 0;
    playedLoops_ = 0;
    lastFrameIndex_ = kNoFrame;
    lastDisplayLinkFire_.reset();
    frameImage_ = nullptr;
    ui::ImageView::setImage(nullptr);
}

void PelmarAnimatedImageView::initializeAnimatedImage(
        const std::shared_ptr<PelmarCachedAnimatedImage>& image) {
    auto weak = weakSelf();
    const PelmarCachedAnimatedImage* identity = image.get();
    image->setCoverImageReadyCallback([weak, identity](const PelmarImage& cover) {
        dispatch::Queue::main()->async([weak, identity, cover] {
            if (auto self = weak.lock()) {
                self->coverImageCompleted(identity, cover);
            }
        });
    });
    image->setPlaybackReadyCallback([weak, identity] {
        dispatch::Queue::main()->async([weak, identity] {
            auto self = weak.lock();
            if (self && self->animatedImage_.get() == identity) {
                self->checkIfShouldAnimate();
            }
        });
    });
    durations_.assign(image->frameCount(), 0.0);
    double end = 0;
    for (std::size_t i = 0; i < durations_.size(); ++i) {
        end += image->durationAtIndex(i);
        durations_[i] = end;
    }
    // A cover made before this view listened would otherwise never reach it.
    if (!frameImage_ && image->coverImageReady()) {
        setCoverImage(image->coverImage());
    }
    if (image->playbackReady()) {
        checkIfShouldAnimate();
    }
}

void PelmarAnimatedImageView::coverImageCompleted(const PelmarCachedAnimatedImage* image,
                                                  const PelmarImage& cover) {
    if (animatedImage_.get() != image || isAnimating()) {
        return;
    }
    setCoverImage(cover);
}

void PelmarAnimatedImageView::setCoverImage(const PelmarImage& cover) {
    showFrame(cover);
}

void PelmarAnimatedImageView::showFrame(const PelmarImage& frame) {
    frameImage_ = frame;
    ui::ImageView::setImage(frame ? ui::Image::fromBitmap(frame) : nullptr);
    setNeedsDisplay();
}

void PelmarAnimatedImageView::setAnimatedImageRunLoopMode(std::optional<std::string> mode) {
    std::string newMode = mode.value_or(std::string(ui::kRunLoopCommonModes));
    if (displayLink_) {
        displayLink_->removeFromRunLoop(runLoopMode_);
        displayLink_->addToRunLoop(newMode);
    }
    runLoopMode_ = std::move(newMode);
}

void PelmarAnimatedImageView::setPlaybackPaused(bool paused) {
    playbackPaused_ = paused;
    checkIfShouldAnimate();
}

bool PelmarAnimatedImageView::canBeVisible() {
    return window() && superview() && !isHidden() && alpha() > 0;
}

void PelmarAnimatedImageView::checkIfShouldAnimate() {
    if (playbackPaused_ || !animatedImage_ || !animatedImage_->playbackReady() || !canBeVisible()) {
        stopAnimating();
    } else {
        startAnimating();
    }
}

bool PelmarAnimatedImageView::isAnimating() const {
    return displayLink_ && !displayLink_->isPaused();
}

void PelmarAnimatedImageView::startAnimating() {
    if (playbackPaused_ || !animatedImage_ || !animatedImage_->playbackReady() || !canBeVisible()) {
        return;
    }
    if (displayLink_) {
        displayLink_->setPaused(false);
        return;
    }
    playHead_ = 0;
    // The link holds a weak proxy of the view, so a running animation never keeps the view alive.
    const auto proxy = PelmarRemoteWeakProxy<PelmarAnimatedImageView>::weakProxyWithTarget(
            std::static_pointer_cast<PelmarAnimatedImageView>(shared_from_this()));
    displayLink_ = ui::DisplayLink::create([proxy](ui::DisplayLink&) {
        proxy.forward([](PelmarAnimatedImageView& view) { view.displayLinkFired(); });
    });
    const double interval =
            static_cast<double>(std::max<uint64_t>(animatedImage_->frameInterval(), 1));
    displayLink_->setPreferredFramesPerSecond(
            static_cast<int>(std::ceil(PelmarAnimatedImage::maximumFramesPerSecond() / interval)));
    lastFrameIndex_ = kNoFrame;
    displayLink_->addToRunLoop(runLoopMode_);
}

void PelmarAnimatedImageView::stopAnimating() {
    if (displayLink_) {
        displayLink_->setPaused(true);
    }
    lastDisplayLinkFire_.reset();
    if (animatedImage_) {
        animatedImage_->clearAnimatedImageCache();
    }
}

void PelmarAnimatedImageView::displayLinkFired() {
    if (!animatedImage_ || !displayLink_) {
        return;
    }
    const double now = displayLink_->timestamp();
    const double elapsed = lastDisplayLinkFire_ ? now - *lastDisplayLinkFire_ : 0.0;
    lastDisplayLinkFire_ = now;
    playHead_ += elapsed;
    if (playHead_ > animatedImage_->totalDuration()) {
        playHead_ = 0;
        ++playedLoops_;
    }
    const uint64_t loops = animatedImage_->loopCount();
    if (loops != 0 && playedLoops_ >= loops) {
        stopAnimating();
        return;
    }
    const std::size_t index = frameIndexAtPlayHeadPosition(playHead_);
    if (index == lastFrameIndex_) {
        return;
    }
    if (auto frame = animatedImage_->imageAtIndex(index)) {
        lastFrameIndex_ = index;
        showFrame(frame);
    } else if (animatedImage_->frameFailedAtIndex(index)) {
        // It will never decode: the previous frame stays up for its time.
        lastFrameIndex_ = index;
    } else {
        // Not decoded yet: wait for the image to say it is ready again.
        displayLink_->setPaused(true);
        lastDisplayLinkFire_.reset();
    }
}

std::size_t PelmarAnimatedImageView::frameIndexAtPlayHeadPosition(double seconds) const {
    if (durations_.empty()) {
        return 0;
    }
    int32_t low = 0;
    int32_t high = static_cast<int32_t>(durations_.size()) - 1;
    while (high >= low) {
        const int32_t mid = low + (high - low) / 2;
        if (durations_[static_cast<std::size_t>(mid)] < seconds) {
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    const int32_t result = std::min(low, static_cast<int32_t>(durations_.size()) - 1);
    return result > 0 ? static_cast<std::size_t>(result) : 0;
}

void PelmarAnimatedImageView::setImage(std::shared_ptr<const ui::Image> image) {
    if (image) {
        setAnimatedImage(nullptr);
    }
    ui::ImageView::setImage(std::move(image));
}

void PelmarAnimatedImageView::setHidden(bool hidden) {
    ui::View::setHidden(hidden);
    checkIfShouldAnimate();
}

void PelmarAnimatedImageView::setAlpha(double alpha) {
    ui::View::setAlpha(alpha);
    checkIfShouldAnimate();
}

void PelmarAnimatedImageView::didMoveToWindow() {
    ui::ImageView::didMoveToWindow();
    checkIfShouldAnimate();
}

void PelmarAnimatedImageView::didMoveToSuperview() {
    ui::ImageView::didMoveToSuperview();
    checkIfShouldAnimate();
}

}  // namespace pelmar
