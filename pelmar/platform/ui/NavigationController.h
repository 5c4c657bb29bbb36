#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/ui/AnimatedTransitioning.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

class NavigationBar;
class NavigationController;

// NavigationControllerDelegate: hears screens being shown and may supply the animator and the
// interaction controller of a push or pop (null: the standard ones).
// Ownership: held weakly by the navigation controller.
// Threads: main thread only.
// Errors: none.
class NavigationControllerDelegate {
public:
    enum class Operation : int { None = 0, Push = 1, Pop = 2 };

    virtual ~NavigationControllerDelegate() = default;

    virtual void willShow(NavigationController& /*navigation*/,
                          ViewController& /*controller*/,
                          bool /*animated*/) {}

    virtual void didShow(NavigationController& /*navigation*/,
                         ViewController& /*controller*/,
                         bool /*animated*/) {}

    virtual std::shared_ptr<AnimatedTransitioning> animationController(
            NavigationController& /*navigation*/,
            Operation /*operation*/,
            const std::shared_ptr<ViewController>& /*from*/,
            const std::shared_ptr<ViewController>& /*to*/) {
        return nullptr;
    }

    virtual std::shared_ptr<InteractiveTransitioning> interactionController(
            NavigationController& /*navigation*/,
            const std::shared_ptr<AnimatedTransitioning>& /*animator*/) {
        return nullptr;
    }
};

// NavigationController: a stack of screens, the top one shown below a navigation bar. Push, pop
// and set change the stack through one transition (the delegate's animator and interaction
// controller, or the standard one): the outgoing screen gets will-disappear and the incoming one
// will-appear at once, the did-callbacks, didMove(toParent) and the delegate's didShow when the
// transition ends on a later main-loop turn. A cancelled (interactive) transition puts the stack
// back. While the navigation controller is off screen the stack changes with no callbacks.
// The bar covers the status-bar area: it is laid out again whenever the view is resized, enters
// or leaves a window, or the window's safe area changes.
// Ownership: reference object made with std::make_shared; owns the screens on its stack (as
// children) and its bar; refers to its delegate weakly.
// Threads: main thread only.
// Errors: a change while a transition is under way, a pop of the root, and pushing a screen that
// already has a parent or is on the stack are ignored with a warning on stderr (pop returns null).
class NavigationController : public ViewController {
public:
    using Operation = NavigationControllerDelegate::Operation;

    explicit NavigationController(std::shared_ptr<ViewController> root = nullptr);
    ~NavigationController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }

    std::shared_ptr<ViewController> topViewController() const;

    void push(const std::shared_ptr<ViewController>& controller, bool animated);

    // Returns the screen popped, or null.
    std::shared_ptr<ViewController> pop(bool animated);

    void popToRoot(bool animated);

    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                            bool animated);

    std::shared_ptr<NavigationBar> navigationBar();

    bool isNavigationBarHidden() const { return barHidden_; }

    void setNavigationBarHidden(bool hidden);

    void setDelegate(std::weak_ptr<NavigationControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool shouldAutomaticallyForwardAppearanceMethods() const override { return false; }

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillTransition(Size size) override;

protected:
    void loadView() override;

private:
    void change(std::vector<std::shared_ptr<ViewController>> stack,
                Operation operation,
                bool animated);
    Rect contentFrame();
    void layoutContent();
    void updateBar();

    std::vector<std::shared_ptr<ViewController>> stack_;
    std::shared_ptr<NavigationBar> bar_;
    bool barHidden_ = false;
    std::weak_ptr<NavigationControllerDelegate> delegate_;
};

}  // namespace pelmar::ui
