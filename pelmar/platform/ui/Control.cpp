#include "pelmar/platform/ui/Control.h"

#include <utility>

#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

void Control::setEnabled(bool enabled) {
    internal::assertMainThread("Control::setEnabled");
    enabled_ = enabled;
}

void Control::setSelected(bool selected) {
    internal::assertMainThread("Control::setSelected");
    selected_ = selected;
}

void Control::addTarget(ControlEvent event, Action action) {
    internal::assertMainThread("Control::addTarget");
    if (action) {
        actions_[event].push_back(std::move(action));
    }
}

void Control::sendActions(ControlEvent event) {
    internal::assertMainThread("Control::sendActions");
    auto it = actions_.find(event);
    if (it == actions_.end()) {
        return;
    }
    // A copy: an action may add or remove targets.
    const auto actions = it->second;
    auto keep = shared_from_this();
    for (const auto& action : actions) {
        action();
    }
}

std::size_t Control::targetCount(ControlEvent event) const {
    auto it = actions_.find(event);
    return it == actions_.end() ? 0 : it->second.size();
}

void Control::beginTracking() {
    highlighted_ = true;
    sendActions(ControlEvent::TouchDown);
}

void Control::trackingBegan(const Touch& touch) {
    auto keep = shared_from_this();
    followsTouch_ = beginTrackingTouch(touch);
}

void Control::trackingMoved(const Touch& touch) {
    auto keep = shared_from_this();
    if (followsTouch_) {
        followsTouch_ = continueTrackingTouch(touch);
    }
}

void Control::endTracking(const Touch& touch) {
    highlighted_ = false;
    auto keep = shared_from_this();
    if (std::exchange(followsTouch_, false)) {
        endTrackingTouch(touch);
    }
    if (pointInside(touch.locationIn(this))) {
        touchUpInside();
        sendActions(ControlEvent::TouchUpInside);
    } else {
        sendActions(ControlEvent::TouchUpOutside);
    }
}

void Control::cancelTracking() {
    highlighted_ = false;
    followsTouch_ = false;
    sendActions(ControlEvent::TouchCancel);
}

}  // namespace pelmar::ui
