#include "pelmar/platform/ui/Touch.h"

#include <utility>

#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"
#include "pelmar/platform/ui/internal/TouchDispatcher.h"

namespace pelmar::ui {

Point Touch::locationIn(const View* target) const {
    if (!target) {
        return location;
    }
    return target->convertFrom(location, nullptr);
}

namespace {

// Why a user could not reach `view`, judging the view and its ancestors only.
std::optional<std::string> unreachable(View& view) {
    if (!view.window()) {
        return view.describe() + " is not in a window";
    }
    auto self = view.shared_from_this();
    for (auto v = self; v; v = v->superview()) {
        const std::string who = v == self ? view.describe() : "its ancestor " + v->describe();
        if (v->isHidden()) {
            return who + " is hidden";
        }
        if (v->alpha() <= 0.01) {
            return who + " is transparent";
        }
        if (!v->isUserInteractionEnabled()) {
            return who + " takes no user interaction";
        }
        if (auto control = std::dynamic_pointer_cast<Control>(v);
            control && !control->isEnabled()) {
            return who + " is disabled";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> tap(View& view) {
    internal::requireMainThread("ui::tap");
    if (auto why = unreachable(view)) {
        return why;
    }
    auto window = view.window();
    if (auto top = window->topmostScreenView(); top && !view.isDescendant(*top)) {
        return view.describe() + " is not in the topmost screen";
    }
    const Rect b = view.bounds();
    const Point center = view.convertTo(b.center(), nullptr);
    auto hit = window->hitTest(center);
    if (!hit) {
        return view.describe() + " lies outside its window";
    }
    if (!hit->isDescendant(view)) {
        return view.describe() + " is covered by " + hit->describe();
    }
    return tap(*window, center);
}

std::optional<std::string> tap(Window& window, Point point) {
    TouchSequence touch(std::static_pointer_cast<Window>(window.shared_from_this()));
    if (auto refused = touch.begin({point})) {
        return refused;
    }
    touch.end();
    return std::nullopt;
}

TouchSequence::TouchSequence(std::shared_ptr<Window> window) : window_(std::move(window)) {}

TouchSequence::TouchSequence() : TouchSequence(Application::shared().keyWindow()) {}

TouchSequence::~TouchSequence() {
    if (isDown()) {
        cancel();
    }
}

std::optional<std::string> TouchSequence::begin(const std::vector<Point>& fingers) {
    internal::requireMainThread("TouchSequence::begin");
    if (!window_) {
        return std::string("there is no window to touch");
    }
    if (isDown() || fingers.empty()) {
        return std::string("fingers are already down, or none were given");
    }
    std::vector<Touch> touches;
    for (auto p : fingers) {
        Touch t;
        t.location = p;
        touches.push_back(t);
    }
    if (auto refused = window_->touches().began(touches)) {
        return refused;
    }
    touches_ = std::move(touches);
    return std::nullopt;
}

void TouchSequence::move(const std::vector<Point>& fingers) {
    if (fingers.size() == touches_.size()) {
        send(Touch::Phase::Moved, &fingers);
    }
}

void TouchSequence::end() {
    send(Touch::Phase::Ended, nullptr);
}

void TouchSequence::cancel() {
    send(Touch::Phase::Cancelled, nullptr);
}

void TouchSequence::send(Touch::Phase phase, const std::vector<Point>* fingers) {
    internal::requireMainThread("TouchSequence");
    if (!isDown()) {
        return;
    }
    if (fingers) {
        for (std::size_t i = 0; i < touches_.size(); ++i) {
            touches_[i].location = (*fingers)[i];
        }
    }
    auto touches = touches_;
    auto& dispatcher = window_->touches();
    switch (phase) {
        case Touch::Phase::Moved:
            dispatcher.moved(touches);
            touches_ = touches;
            return;
        case Touch::Phase::Ended:
            touches_.clear();
            dispatcher.ended(touches);
            return;
        default:
            touches_.clear();
            dispatcher.cancelled(touches);
            return;
    }
}

}  // namespace pelmar::ui
