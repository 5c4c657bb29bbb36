#include "pelmar/platform/ui/TapGestureRecognizer.h"

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

namespace {

// The origin of `view` in window coordinates (the sum of the frame origins up the tree).
Point originInWindow(const std::shared_ptr<View>& view) {
    Point origin;
    for (auto v = view; v; v = v->superview()) {
        origin.x += v->frame().x;
        origin.y += v->frame().y;
    }
    return origin;
}

}  // namespace

Point TapGestureRecognizer::location(const std::shared_ptr<View>& target) const {
    auto own = view_.lock();
    if (!target || !own || target == own) {
        return location_;
    }
    const Point from = originInWindow(own);
    const Point to = originInWindow(target);
    return Point{location_.x + from.x - to.x, location_.y + from.y - to.y};
}

void TapGestureRecognizer::tap(Point location) {
    if (!enabled_ || !view_.lock() || !action_) {
        return;
    }
    auto keep = shared_from_this();
    location_ = location;
    state_ = State::Ended;
    auto action = action_;
    action(*this);
    state_ = State::Possible;
}

}  // namespace pelmar::ui
