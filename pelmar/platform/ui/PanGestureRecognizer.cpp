#include "pelmar/platform/ui/PanGestureRecognizer.h"

#include <cmath>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

Point PanGestureRecognizer::centroid() const {
    return location(nullptr);
}

Point PanGestureRecognizer::toView(Point v, const View* view) const {
    auto own = this->view();
    const View* target = view ? view : own.get();
    if (!target) {
        return v;
    }
    const Point origin = target->convertFrom(Point{0, 0}, nullptr);
    const Point moved = target->convertFrom(v, nullptr);
    return {moved.x - origin.x, moved.y - origin.y};
}

Point PanGestureRecognizer::fromView(Point v, const View* view) const {
    auto own = this->view();
    const View* target = view ? view : own.get();
    if (!target) {
        return v;
    }
    const Point origin = target->convertTo(Point{0, 0}, nullptr);
    const Point moved = target->convertTo(v, nullptr);
    return {moved.x - origin.x, moved.y - origin.y};
}

Point PanGestureRecognizer::translation(const View* view) const {
    return toView(Point{last_.x - start_.x, last_.y - start_.y}, view);
}

void PanGestureRecognizer::setTranslation(Point translation, const View* view) {
    const Point w = fromView(translation, view);
    start_ = Point{last_.x - w.x, last_.y - w.y};
}

Point PanGestureRecognizer::velocity(const View* view) const {
    return toView(velocity_, view);
}

void PanGestureRecognizer::touchesBegan(const std::vector<Touch>& touches) {
    if (state() == State::Possible) {
        start_ = last_ = centroid();
        lastTime_ = touches.front().timestamp;
    }
}

void PanGestureRecognizer::touchesMoved(const std::vector<Touch>& touches) {
    if (static_cast<int>(numberOfTouches()) < minimumTouches_) {
        return;
    }
    const Point now = centroid();
    const double time = touches.front().timestamp;
    if (time > lastTime_) {
        velocity_ = {(now.x - last_.x) / (time - lastTime_),
                     (now.y - last_.y) / (time - lastTime_)};
    }
    last_ = now;
    lastTime_ = time;
    if (state() == State::Possible) {
        if (std::hypot(now.x - start_.x, now.y - start_.y) > kHysteresis) {
            setState(State::Began);
        }
        return;
    }
    setState(State::Changed);
}

void PanGestureRecognizer::touchesEnded(const std::vector<Touch>& touches) {
    if (numberOfTouches() > touches.size()) {
        return;  // fingers remain down
    }
    setState(state() == State::Possible ? State::Failed : State::Ended);
}

void PanGestureRecognizer::reset() {
    start_ = last_ = velocity_ = Point{};
    lastTime_ = 0;
}

}  // namespace pelmar::ui
