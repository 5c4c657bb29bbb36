#include "pelmar/platform/ui/Window.h"

#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/internal/TouchDispatcher.h"

namespace pelmar::ui {

Window::Window() : Window(Screen::main().bounds()) {}

Window::Window(Rect frame) : View(frame) {
    setHidden(true);
}

Window::~Window() = default;

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == root_) {
        return;
    }
    auto old = std::exchange(root_, controller);
    if (old && old->isViewLoaded()) {
        old->view()->removeFromSuperview();
    }
    if (controller) {
        auto view = controller->view();
        view->setFrame(bounds());
        insertSubview(view, 0);
        view->layoutIfNeeded();
    }
    if (isHidden()) {
        return;
    }
    if (old) {
        old->beginAppearanceTransition(false, false);
    }
    if (controller) {
        controller->beginAppearanceTransition(true, false);
    }
    dispatch::Queue::main()->async([old, controller] {
        if (old) {
            old->endAppearanceTransition();
        }
        if (controller) {
            controller->endAppearanceTransition();
        }
    });
}

void Window::makeKeyAndVisible() {
    Application::shared().setKeyWindow(std::static_pointer_cast<Window>(shared_from_this()));
    if (!isHidden()) {
        return;
    }
    setHidden(false);
    if (auto root = root_) {
        root->beginAppearanceTransition(true, false);
        dispatch::Queue::main()->async([root] { root->endAppearanceTransition(); });
    }
}

bool Window::isKeyWindow() {
    return Application::shared().keyWindow().get() == this;
}

std::shared_ptr<ViewController> Window::topViewController() const {
    auto top = root_;
    while (top && top->presentedViewController()) {
        top = top->presentedViewController();
    }
    return top;
}

std::shared_ptr<View> Window::topmostScreenView() {
    std::shared_ptr<View> found;
    for (auto c = root_; c; c = c->presentedViewController()) {
        if (c->isViewLoaded() && c->view()->window().get() == this) {
            found = c->view();
        }
    }
    return found;
}

void Window::setSafeAreaInsets(std::optional<EdgeInsets> insets) {
    const EdgeInsets before = safeAreaInsets();
    safeArea_ = insets;
    insetsMayHaveChanged(before);
}

EdgeInsets Window::safeAreaInsets() {
    if (safeArea_) {
        return *safeArea_;
    }
    const auto& screen = Screen::main();
    return frame() == screen.bounds() ? screen.safeAreaInsets() : EdgeInsets{};
}

namespace {

void tellTransition(const std::shared_ptr<ViewController>& controller, Size size) {
    controller->viewWillTransition(size);
    for (const auto& child : controller->children()) {
        tellTransition(child, size);
    }
}

void markForLayout(const std::shared_ptr<ViewController>& controller) {
    if (controller->isViewLoaded()) {
        controller->view()->setNeedsLayout();
    }
    for (const auto& child : controller->children()) {
        markForLayout(child);
    }
}

void tellTraits(const std::shared_ptr<ViewController>& controller, const TraitCollection& before) {
    controller->traitCollectionDidChange(before);
    for (const auto& child : controller->children()) {
        tellTraits(child, before);
    }
}

}  // namespace

TraitCollection Window::traitCollection() const {
    if (traitOverride_) {
        return *traitOverride_;
    }
    return TraitCollection::forWindow(bounds().size(), Device::current().userInterfaceIdiom());
}

void Window::setTraitOverride(std::optional<TraitCollection> traits) {
    const TraitCollection before = traitCollection();
    traitOverride_ = traits;
    traitsMayHaveChanged(before);
}

void Window::traitsMayHaveChanged(const TraitCollection& before) {
    if (traitCollection() == before) {
        return;
    }
    for (auto c = root_; c; c = c->presentedViewController()) {
        tellTraits(c, before);
    }
}

void Window::insetsMayHaveChanged(const EdgeInsets& before) {
    if (safeAreaInsets() == before) {
        return;
    }
    for (auto c = root_; c; c = c->presentedViewController()) {
        c->layoutPresentedView();
        markForLayout(c);
    }
    layoutIfNeeded();
}

void Window::rotate(InterfaceOrientation orientation) {
    const TraitCollection before = traitCollection();
    const EdgeInsets insetsBefore = safeAreaInsets();
    auto& app = Application::shared();
    auto& screen = Screen::main();
    const bool wasLandscape = app.statusBarOrientation() == InterfaceOrientation::LandscapeLeft
                              || app.statusBarOrientation() == InterfaceOrientation::LandscapeRight;
    const bool landscape = orientation == InterfaceOrientation::LandscapeLeft
                           || orientation == InterfaceOrientation::LandscapeRight;
    const Rect old = screen.bounds();
    Size size = old.size();
    EdgeInsets safe = screen.safeAreaInsets();
    if (wasLandscape != landscape) {
        size = Size{old.height, old.width};
        // The insets turn with the device: the notch and the home indicator change sides.
        safe = landscape ? EdgeInsets{0, safe.top, safe.bottom, safe.top}
                         : EdgeInsets{safe.left, 0, safe.bottom, 0};
    }
    app.setDeviceOrientation(static_cast<DeviceOrientation>(static_cast<int>(orientation)));
    app.setStatusBarOrientation(orientation);
    const bool coversScreen = frame() == old;
    const Size windowSize = coversScreen ? size : bounds().size();
    for (auto c = root_; c; c = c->presentedViewController()) {
        tellTransition(c, windowSize);
    }
    screen.setBoundsSize(size, safe);
    if (coversScreen) {
        setFrame(Rect::of({}, size));
    }
    if (root_ && root_->isViewLoaded()) {
        root_->view()->setFrame(bounds());
    }
    for (auto c = root_; c; c = c->presentedViewController()) {
        c->layoutPresentedView();
    }
    layoutIfNeeded();
    insetsMayHaveChanged(insetsBefore);
    traitsMayHaveChanged(before);
}

internal::TouchDispatcher& Window::touches() {
    if (!touches_) {
        touches_ = std::make_shared<internal::TouchDispatcher>(
                std::static_pointer_cast<Window>(shared_from_this()));
    }
    return *touches_;
}

}  // namespace pelmar::ui
