#include "pelmar/platform/ui/TapGestureRecognizer.h"

#include <cmath>

#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::ui {

TapGestureRecognizer::TapGestureRecognizer(TapAction action) {
    if (action) {
        addAction([action = std::move(action)](GestureRecognizer& r) {
            action(static_cast<TapGestureRecognizer&>(r));
        });
    }
}

void TapGestureRecognizer::touchesBegan(const std::vector<Touch>& touches) {
    ++timer_;
    start_ = touches.front().location;
}

void TapGestureRecognizer::touchesMoved(const std::vector<Touch>& touches) {
    const Point p = touches.front().location;
    if (std::hypot(p.x - start_.x, p.y - start_.y) > kAllowableMovement) {
        setState(State::Failed);
    }
}

void TapGestureRecognizer::touchesEnded(const std::vector<Touch>& /*touches*/) {
    if (++taps_ >= tapsRequired_) {
        setState(State::Ended);
        return;
    }
    const unsigned armed = ++timer_;
    std::weak_ptr<GestureRecognizer> weak = weak_from_this();
    dispatch::Queue::main()->asyncAfter(kMaximumTapInterval, [weak, armed] {
        auto self = std::static_pointer_cast<TapGestureRecognizer>(weak.lock());
        if (self && self->timer_ == armed && self->state() == State::Possible) {
            self->setState(State::Failed);
        }
    });
}

void TapGestureRecognizer::reset() {
    taps_ = 0;
    ++timer_;
}

}  // namespace pelmar::ui
