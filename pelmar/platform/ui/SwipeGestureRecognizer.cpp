#include "pelmar/platform/ui/SwipeGestureRecognizer.h"

#include <cmath>

namespace pelmar::ui {

int SwipeGestureRecognizer::stroke(const Touch& touch) const {
    const double dx = touch.location.x - start_.x;
    const double dy = touch.location.y - start_.y;
    if (std::abs(dx) >= kMinimumDistance && std::abs(dy) <= std::abs(dx) / 2) {
        return dx > 0 ? Right : Left;
    }
    if (std::abs(dy) >= kMinimumDistance && std::abs(dx) <= std::abs(dy) / 2) {
        return dy > 0 ? Down : Up;
    }
    return 0;
}

void SwipeGestureRecognizer::touchesBegan(const std::vector<Touch>& touches) {
    start_ = touches.front().location;
    startTime_ = touches.front().timestamp;
}

void SwipeGestureRecognizer::touchesMoved(const std::vector<Touch>& touches) {
    if (touches.front().timestamp - startTime_ > kMaximumDuration) {
        setState(State::Failed);
    }
}

void SwipeGestureRecognizer::touchesEnded(const std::vector<Touch>& touches) {
    const Touch& touch = touches.front();
    const int s = stroke(touch);
    const bool quick = touch.timestamp - startTime_ <= kMaximumDuration;
    setState(quick && (s & direction_) != 0 ? State::Ended : State::Failed);
}

}  // namespace pelmar::ui
