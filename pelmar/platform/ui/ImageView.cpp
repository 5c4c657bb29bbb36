#include "pelmar/platform/ui/ImageView.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/dispatch/Clock.h"

namespace pelmar::ui {

void ImageView::startAnimating() {
    if (isAnimating()) {
        return;
    }
    animating_ = !animationImages_.empty() || !highlightedAnimationImages_.empty();
    animationStart_ = dispatch::clock().now();
}

const std::vector<std::shared_ptr<const Image>>& ImageView::currentAnimationImages() const {
    return highlighted_ && !highlightedAnimationImages_.empty() ? highlightedAnimationImages_
                                                                : animationImages_;
}

double ImageView::passSeconds() const {
    if (animationDuration_ > 0) {
        return animationDuration_;
    }
    return kDefaultFrameSeconds * static_cast<double>(currentAnimationImages().size());
}

bool ImageView::isAnimating() const {
    if (!animating_ || currentAnimationImages().empty()) {
        return false;
    }
    if (animationRepeatCount_ <= 0) {
        return true;
    }
    const double elapsed = dispatch::clock().now() - animationStart_;
    return elapsed < passSeconds() * animationRepeatCount_;
}

std::shared_ptr<const Image> ImageView::displayedImage() const {
    if (isAnimating()) {
        const auto& frames = currentAnimationImages();
        const double pass = passSeconds();
        const double elapsed = std::max(0.0, dispatch::clock().now() - animationStart_);
        const double into = pass > 0 ? std::fmod(elapsed, pass) / pass : 0.0;
        const auto count = frames.size();
        const auto index = std::min(count - 1, static_cast<std::size_t>(into * count));
        return frames[index];
    }
    if (highlighted_ && highlightedImage_) {
        return highlightedImage_;
    }
    return image_;
}

}  // namespace pelmar::ui
