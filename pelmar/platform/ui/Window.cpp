#include "pelmar/platform/ui/Window.h"

#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

Window::Window(Rect frame) : View(frame) {}

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
        view->setFrame(Rect{0, 0, frame().width, frame().height});
        addSubview(view);
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

}  // namespace pelmar::ui
