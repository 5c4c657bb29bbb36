#include "pelmar/platform/ui/LongPressGestureRecognizer.h"

#include <cmath>

#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::ui {

void LongPressGestureRecognizer::touchesBegan(const std::vector<Touch>& touches) {
    start_ = touches.front().location;
    const unsigned armed = ++timer_;
    std::weak_ptr<GestureRecognizer> weak = weak_from_this();
    dispatch::Queue::main()->asyncAfter(minimumPressDuration_, [weak, armed] {
        auto self = std::static_pointer_cast<LongPressGestureRecognizer>(weak.lock());
        if (self && self->timer_ == armed && self->state() == State::Possible
            && self->numberOfTouches() > 0) {
            self->setState(State::Began);
        }
    });
}

void LongPressGestureRecognizer::touchesMoved(const std::vector<Touch>& touches) {
    if (state() == State::Possible) {
        const Point p = touches.front().location;
        if (std::hypot(p.x - start_.x, p.y - start_.y) > allowableMovement_) {
            ++timer_;
            setState(State::Failed);
        }
        return;
    }
    setState(State::Changed);
}

void LongPressGestureRecognizer::touchesEnded(const std::vector<Touch>& /*touches*/) {
    ++timer_;
    setState(state() == State::Possible ? State::Failed : State::Ended);
}

}  // namespace pelmar::ui
