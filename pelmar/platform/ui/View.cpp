#include "pelmar/platform/ui/View.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/GestureRecognizer.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

using internal::assertMainThread;

// Made, not yet in any tree: no thread check, so a view may be prepared anywhere.
View::View(Rect frame)
    : bounds_{0, 0, frame.width, frame.height}, center_(frame.center()), needsLayout_(true) {}

View::~View() = default;

namespace {

// The bounding box of the corners of `rect` mapped by `convert`.
template <typename Convert>
Rect convertCorners(Rect rect, Convert convert) {
    const std::array<Point, 4> corners{
            Point{rect.minX(), rect.minY()}, Point{rect.maxX(), rect.minY()},
            Point{rect.minX(), rect.maxY()}, Point{rect.maxX(), rect.maxY()}};
    double minX = INFINITY;
    double minY = INFINITY;
    double maxX = -INFINITY;
    double maxY = -INFINITY;
    for (auto corner : corners) {
        const Point p = convert(corner);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    return Rect{minX, minY, maxX - minX, maxY - minY};
}

}  // namespace

Rect View::frame() const {
    const Rect around{-bounds_.width / 2, -bounds_.height / 2, bounds_.width, bounds_.height};
    // The transform turns the bounds around the centre; its translation moves the view too.
    return convertCorners(around, [this](Point p) {
        const Point q = transform_.apply(p);
        return Point{center_.x + q.x, center_.y + q.y};
    });
}

void View::setFrame(Rect frame) {
    assertMainThread("View::setFrame");
    const bool resized = frame.width != bounds_.width || frame.height != bounds_.height;
    center_ = frame.center();
    bounds_.width = frame.width;
    bounds_.height = frame.height;
    if (resized) {
        setNeedsLayout();
    }
}

void View::setBounds(Rect bounds) {
    assertMainThread("View::setBounds");
    const bool resized = bounds.width != bounds_.width || bounds.height != bounds_.height;
    bounds_ = bounds;
    if (resized) {
        setNeedsLayout();
    }
}

void View::setCenter(Point center) {
    assertMainThread("View::setCenter");
    center_ = center;
}

void View::setTransform(AffineTransform transform) {
    assertMainThread("View::setTransform");
    transform_ = transform;
}

void View::setContentMode(ContentMode mode) {
    assertMainThread("View::setContentMode");
    contentMode_ = mode;
}

void View::setHidden(bool hidden) {
    assertMainThread("View::setHidden");
    hidden_ = hidden;
}

void View::setAlpha(double alpha) {
    assertMainThread("View::setAlpha");
    alpha_ = std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0);
}

void View::setUserInteractionEnabled(bool enabled) {
    assertMainThread("View::setUserInteractionEnabled");
    userInteractionEnabled_ = enabled;
}

std::shared_ptr<View> View::viewWithTag(int tag) {
    if (tag_ == tag) {
        return shared_from_this();
    }
    for (const auto& child : subviews_) {
        if (auto found = child->viewWithTag(tag)) {
            return found;
        }
    }
    return nullptr;
}

void View::addSubview(const std::shared_ptr<View>& view) {
    insertSubview(view, subviews_.size());
}

void View::insertSubview(const std::shared_ptr<View>& view, std::size_t index) {
    assertMainThread("View::addSubview");
    if (!view) {
        return;
    }
    if (isDescendant(*view)) {
        internal::warn(
                "addSubview: a view cannot become a subview of itself or of one of "
                "its own subviews; ignored");
        return;
    }
    auto keep = view;
    auto oldWindow = view->window();
    auto newWindow = window();
    if (oldWindow != newWindow) {
        view->notifyWillMoveToWindow(newWindow);
    }
    if (auto parent = view->superview()) {
        auto& siblings = parent->subviews_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), view), siblings.end());
    }
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = weak_from_this();
    view->didMoveToSuperview();
    if (oldWindow != newWindow) {
        view->notifyDidMoveToWindow();
    }
    setNeedsLayout();
}

void View::bringSubviewToFront(const std::shared_ptr<View>& view) {
    assertMainThread("View::bringSubviewToFront");
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it != subviews_.end()) {
        std::rotate(it, it + 1, subviews_.end());
    }
}

void View::removeFromSuperview() {
    assertMainThread("View::removeFromSuperview");
    auto parent = superview_.lock();
    if (!parent) {
        return;
    }
    auto keep = shared_from_this();
    const bool leavesWindow = window() != nullptr;
    if (leavesWindow) {
        notifyWillMoveToWindow(nullptr);
    }
    superview_.reset();
    auto& siblings = parent->subviews_;
    siblings.erase(
            std::remove_if(siblings.begin(), siblings.end(),
                           [this](const std::shared_ptr<View>& v) { return v.get() == this; }),
            siblings.end());
    didMoveToSuperview();
    if (leavesWindow) {
        notifyDidMoveToWindow();
    }
}

void View::notifyWillMoveToWindow(const std::shared_ptr<Window>& window) {
    willMoveToWindow(window);
    const auto children = subviews_;
    for (const auto& child : children) {
        child->notifyWillMoveToWindow(window);
    }
}

void View::notifyDidMoveToWindow() {
    didMoveToWindow();
    if (auto controller = viewController_.lock()) {
        controller->viewMovedToWindow(window() != nullptr);
    }
    const auto children = subviews_;
    for (const auto& child : children) {
        child->notifyDidMoveToWindow();
    }
}

bool View::isDescendant(const View& ancestor) const {
    for (const View* view = this; view; view = view->superview_.lock().get()) {
        if (view == &ancestor) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<Window> View::window() {
    for (auto view = shared_from_this(); view; view = view->superview()) {
        if (auto window = std::dynamic_pointer_cast<Window>(view)) {
            return window;
        }
    }
    return nullptr;
}

bool View::isEffectivelyVisible() {
    if (!window()) {
        return false;
    }
    for (auto view = shared_from_this(); view; view = view->superview()) {
        if (view->hidden_ || view->alpha_ <= 0) {
            return false;
        }
    }
    return true;
}

Point View::toSuperview(Point p) const {
    const Point fromCenter{p.x - bounds_.x - bounds_.width / 2,
                           p.y - bounds_.y - bounds_.height / 2};
    const Point turned = transform_.apply(fromCenter);
    return {center_.x + turned.x, center_.y + turned.y};
}

Point View::fromSuperview(Point p) const {
    const Point turned = transform_.inverted().apply(Point{p.x - center_.x, p.y - center_.y});
    return {turned.x + bounds_.x + bounds_.width / 2, turned.y + bounds_.y + bounds_.height / 2};
}

namespace {

// The chain from `view` up to its top view, `view` first.
std::vector<const View*> ancestry(const View* view) {
    std::vector<const View*> chain;
    for (; view; view = view->superview().get()) {
        chain.push_back(view);
    }
    return chain;
}

}  // namespace

Point View::convertTo(Point point, const View* other) const {
    // Up to the top view (a window stops there too: it is its own coordinate space), then down.
    for (const View* v : ancestry(this)) {
        if (v == other) {
            return point;
        }
        if (!v->superview()) {
            break;
        }
        point = v->toSuperview(point);
    }
    if (!other) {
        return point;
    }
    const auto down = ancestry(other);
    for (auto it = down.rbegin(); it != down.rend(); ++it) {
        if ((*it)->superview()) {
            point = (*it)->fromSuperview(point);
        }
    }
    return point;
}

Point View::convertFrom(Point point, const View* other) const {
    if (!other) {
        // From the top view's coordinates down to this view's.
        const auto down = ancestry(this);
        for (auto it = down.rbegin(); it != down.rend(); ++it) {
            if ((*it)->superview()) {
                point = (*it)->fromSuperview(point);
            }
        }
        return point;
    }
    return other->convertTo(point, this);
}

Rect View::convertTo(Rect rect, const View* other) const {
    return convertCorners(rect, [&](Point p) { return convertTo(p, other); });
}

Rect View::convertFrom(Rect rect, const View* other) const {
    return convertCorners(rect, [&](Point p) { return convertFrom(p, other); });
}

bool View::pointInside(Point point) const {
    return bounds_.contains(point);
}

std::shared_ptr<View> View::hitTest(Point point) {
    if (hidden_ || alpha_ <= 0.01 || !userInteractionEnabled_ || !pointInside(point)) {
        return nullptr;
    }
    const auto children = subviews_;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (auto hit = (*it)->hitTest((*it)->fromSuperview(point))) {
            return hit;
        }
    }
    return shared_from_this();
}

EdgeInsets View::safeAreaInsets() {
    auto w = window();
    if (!w) {
        return {};
    }
    const Rect safe = convertFrom(w->safeAreaInsets().inset(w->bounds()), w.get());
    return EdgeInsets{std::max(0.0, safe.minY() - bounds_.minY()),
                      std::max(0.0, safe.minX() - bounds_.minX()),
                      std::max(0.0, bounds_.maxY() - safe.maxY()),
                      std::max(0.0, bounds_.maxX() - safe.maxX())};
}

void View::setNeedsLayout() {
    needsLayout_ = true;
}

void View::layoutIfNeeded() {
    assertMainThread("View::layoutIfNeeded");
    auto keep = shared_from_this();
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    const auto children = subviews_;
    for (const auto& child : children) {
        child->layoutIfNeeded();
    }
}

Color View::effectiveTintColor() const {
    // The platform's tint when no view up the tree sets one.
    constexpr Color kDefaultTint{0.0, 0.48, 1.0, 1.0};
    std::shared_ptr<View> holder;
    for (const View* up = this; up != nullptr; up = holder.get()) {
        if (auto tint = up->tintColor()) {
            return *tint;
        }
        holder = up->superview();
    }
    return kDefaultTint;
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

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    assertMainThread("View::addGestureRecognizer");
    if (!recognizer) {
        return;
    }
    if (auto old = recognizer->view()) {
        old->removeGestureRecognizer(recognizer);
    }
    recognizer->attach(weak_from_this());
    recognizers_.push_back(recognizer);
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    assertMainThread("View::removeGestureRecognizer");
    auto it = std::find(recognizers_.begin(), recognizers_.end(), recognizer);
    if (it != recognizers_.end()) {
        (*it)->attach({});
        recognizers_.erase(it);
    }
}

std::string View::describe() const {
    const Rect f = frame();
    std::ostringstream out;
    out << className() << " {" << f.x << ", " << f.y << ", " << f.width << ", " << f.height << "}";
    return out.str();
}

void View::animate(double duration,
                   const std::function<void()>& animations,
                   std::function<void(bool finished)> completion) {
    if (animations) {
        animations();
    }
    if (!completion) {
        return;
    }
    auto done = [completion = std::move(completion)] { completion(true); };
    if (duration > 0) {
        dispatch::Queue::main()->asyncAfter(duration, std::move(done));
    } else {
        dispatch::Queue::main()->async(std::move(done));
    }
}

}  // namespace pelmar::ui
