#include "pelmar/platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

View::View(Rect frame) : frame_(frame) {}

View::~View() = default;

void View::setAlpha(double alpha) {
    alpha_ = std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0);
}

void View::addSubview(const std::shared_ptr<View>& view) {
    if (!view) {
        return;
    }
    for (auto ancestor = shared_from_this(); ancestor; ancestor = ancestor->superview()) {
        if (ancestor == view) {
            internal::warn(
                    "addSubview: a view cannot become a subview of itself or of one of "
                    "its own subviews; ignored");
            return;
        }
    }
    view->removeFromSuperview();
    subviews_.push_back(view);
    view->superview_ = weak_from_this();
}

void View::removeFromSuperview() {
    auto parent = superview_.lock();
    superview_.reset();
    if (!parent) {
        return;
    }
    auto& siblings = parent->subviews_;
    siblings.erase(
            std::remove_if(siblings.begin(), siblings.end(),
                           [this](const std::shared_ptr<View>& v) { return v.get() == this; }),
            siblings.end());
}

std::shared_ptr<Window> View::window() {
    for (auto view = shared_from_this(); view; view = view->superview()) {
        if (auto window = std::dynamic_pointer_cast<Window>(view)) {
            return window;
        }
    }
    return nullptr;
}

std::shared_ptr<Layer> View::layer() {
    if (!layer_) {
        layer_ = makeLayer();
    }
    return layer_;
}

std::shared_ptr<Layer> View::makeLayer() {
    return std::make_shared<Layer>();
}

void View::addGestureRecognizer(const std::shared_ptr<TapGestureRecognizer>& recognizer) {
    if (!recognizer) {
        return;
    }
    if (auto old = recognizer->view()) {
        auto& list = old->recognizers_;
        list.erase(std::remove(list.begin(), list.end(), recognizer), list.end());
    }
    recognizer->attach(weak_from_this());
    recognizers_.push_back(recognizer);
}

void View::animate(double duration,
                   const std::function<void()>& animations,
                   std::function<void(bool finished)> completion) {
    if (animations) {
        animations();
    }
    if (completion) {
        dispatch::Queue::main()->asyncAfter(
                std::max(0.0, duration),
                [completion = std::move(completion)] { completion(true); });
    }
}

}  // namespace pelmar::ui
