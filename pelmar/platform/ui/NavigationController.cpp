#include "pelmar/platform/ui/NavigationController.h"

#include <algorithm>
#include <functional>

#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"
#include "pelmar/platform/ui/internal/StandardAnimator.h"

namespace pelmar::ui {

namespace {

bool contains(const std::vector<std::shared_ptr<ViewController>>& list,
              const std::shared_ptr<ViewController>& c) {
    return std::find(list.begin(), list.end(), c) != list.end();
}

// The navigation controller's own view: it lays out the bar and the top screen when resized and
// when it enters or leaves a window (the safe area under the status bar comes with the window).
class NavigationView : public View {
public:
    explicit NavigationView(std::function<void()> onLayout) : onLayout_(std::move(onLayout)) {}

protected:
    void layoutSubviews() override {
        if (onLayout_) {
            onLayout_();
        }
    }

    void didMoveToWindow() override {
        setNeedsLayout();
        layoutIfNeeded();
    }

private:
    std::function<void()> onLayout_;
};

}  // namespace

NavigationController::NavigationController(std::shared_ptr<ViewController> root) {
    if (root) {
        stack_.push_back(std::move(root));
    }
}

NavigationController::~NavigationController() = default;

void NavigationController::loadView() {
    std::weak_ptr<ViewController> weak = weak_from_this();
    auto view = std::make_shared<NavigationView>([weak] {
        if (auto self = std::static_pointer_cast<NavigationController>(weak.lock())) {
            self->layoutContent();
        }
    });
    setView(view);
    bar_ = std::make_shared<NavigationBar>();
    bar_->onBack = [weak] {
        if (auto self = std::static_pointer_cast<NavigationController>(weak.lock())) {
            self->pop(true);
        }
    };
    view->addSubview(bar_);
    // The stack given at construction becomes the children now that there is a view to show.
    for (const auto& c : stack_) {
        if (!c->parent()) {
            addChild(c);
            c->didMove(this);
        }
    }
    if (auto top = topViewController()) {
        view->insertSubview(top->view(), 0);
    }
    updateBar();
}

std::shared_ptr<NavigationBar> NavigationController::navigationBar() {
    loadViewIfNeeded();
    return bar_;
}

void NavigationController::setNavigationBarHidden(bool hidden) {
    barHidden_ = hidden;
    if (bar_) {
        bar_->setHidden(hidden);
    }
    layoutContent();
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

Rect NavigationController::contentFrame() {
    auto v = view();
    const Rect b = v->bounds();
    if (barHidden_) {
        return b;
    }
    const double top = v->safeAreaInsets().top + NavigationBar::kHeight;
    return Rect{b.x, b.y + top, b.width, b.height - top};
}

void NavigationController::layoutContent() {
    if (!isViewLoaded()) {
        return;
    }
    auto v = view();
    const double barTop = v->safeAreaInsets().top;
    bar_->setFrame({0, 0, v->bounds().width, barTop + NavigationBar::kHeight});
    // A bar that grew (the safe area came) puts its items back at its bottom.
    bar_->layoutIfNeeded();
    if (auto top = topViewController(); top && top->isViewLoaded()) {
        top->view()->setFrame(contentFrame());
    }
}

void NavigationController::updateBar() {
    if (!bar_) {
        return;
    }
    std::vector<std::shared_ptr<NavigationItem>> items;
    for (const auto& c : stack_) {
        items.push_back(c->navigationItem());
    }
    bar_->setItems(std::move(items));
    layoutContent();
}

void NavigationController::push(const std::shared_ptr<ViewController>& controller, bool animated) {
    if (!controller || contains(stack_, controller) || controller->parent()) {
        internal::warn(
                "push: the screen is missing, already on the stack or has a parent; ignored");
        return;
    }
    auto stack = stack_;
    stack.push_back(controller);
    change(std::move(stack), Operation::Push, animated);
}

std::shared_ptr<ViewController> NavigationController::pop(bool animated) {
    if (stack_.size() < 2) {
        internal::warn("pop: the root screen stays; ignored");
        return nullptr;
    }
    if (transitionInProgress()) {
        internal::warn("pop: a transition is under way; ignored");
        return nullptr;
    }
    auto popped = stack_.back();
    auto stack = stack_;
    stack.pop_back();
    change(std::move(stack), Operation::Pop, animated);
    return popped;
}

void NavigationController::popToRoot(bool animated) {
    if (stack_.size() > 1) {
        change({stack_.front()}, Operation::Pop, animated);
    }
}

void NavigationController::setViewControllers(
        std::vector<std::shared_ptr<ViewController>> controllers, bool animated) {
    if (controllers.empty()) {
        internal::warn("setViewControllers: a navigation stack needs a screen; ignored");
        return;
    }
    const auto top = controllers.back();
    const auto op = contains(stack_, top) ? Operation::Pop : Operation::Push;
    change(std::move(controllers), op, animated);
}

void NavigationController::change(std::vector<std::shared_ptr<ViewController>> stack,
                                  Operation operation,
                                  bool animated) {
    internal::requireMainThread("NavigationController");
    if (transitionInProgress()) {
        internal::warn("navigation: a transition is under way; ignored");
        return;
    }
    auto self = std::static_pointer_cast<NavigationController>(shared_from_this());
    auto old = stack_;
    auto from = topViewController();
    auto to = stack.back();
    std::vector<std::shared_ptr<ViewController>> added;
    std::vector<std::shared_ptr<ViewController>> removed;
    for (const auto& c : stack) {
        if (!contains(old, c)) {
            added.push_back(c);
        }
    }
    for (const auto& c : old) {
        if (!contains(stack, c)) {
            removed.push_back(c);
        }
    }
    for (const auto& c : removed) {
        c->willMove(nullptr);
    }
    for (const auto& c : added) {
        addChild(c);
    }
    stack_ = stack;

    if (!isViewLoaded() || !isAppeared() || from == to) {
        // Off screen (or the top stays): swap the views with no transition.
        if (isViewLoaded() && from != to) {
            if (from && from->isViewLoaded()) {
                from->view()->removeFromSuperview();
            }
            view()->insertSubview(to->view(), 0);
        }
        for (const auto& c : removed) {
            c->removeFromParent();
        }
        for (const auto& c : added) {
            c->didMove(this);
        }
        updateBar();
        return;
    }

    auto delegate = delegate_.lock();
    if (delegate) {
        delegate->willShow(*this, *to, animated);
    }
    from->beginAppearanceTransition(false, animated);
    to->beginAppearanceTransition(true, animated);

    std::shared_ptr<AnimatedTransitioning> animator;
    std::shared_ptr<InteractiveTransitioning> interaction;
    if (delegate) {
        animator = delegate->animationController(*this, operation, from, to);
        if (animator) {
            interaction = delegate->interactionController(*this, animator);
        }
    }
    if (!animator) {
        animator = std::make_shared<internal::StandardAnimator>(operation != Operation::Pop);
    }
    TransitionContext::Setup setup;
    setup.container = view();
    setup.from = from;
    setup.to = to;
    setup.fromFinalFrame = contentFrame();
    setup.toFinalFrame = contentFrame();
    setup.animated = animated;
    setup.animator = animator;
    setup.interaction = interaction;
    // Weak: this controller holds the transition, which holds this.
    setup.onFinish = [weakSelf = std::weak_ptr<NavigationController>(self), old, from, to, added,
                      removed, animated](bool completed) {
        auto nav = weakSelf.lock();
        if (!nav) {
            return;
        }
        nav->clearTransition();
        if (completed) {
            if (from->isViewLoaded()) {
                from->view()->removeFromSuperview();
            }
            if (to->view()->superview() != nav->view()) {
                nav->view()->insertSubview(to->view(), 0);
            }
            from->endAppearanceTransition();
            to->endAppearanceTransition();
            for (const auto& c : removed) {
                c->removeFromParent();
            }
            for (const auto& c : added) {
                c->didMove(nav.get());
            }
            nav->updateBar();
            if (auto d = nav->delegate_.lock()) {
                d->didShow(*nav, *to, animated);
            }
            nav->transitionEnded();
            return;
        }
        to->view()->removeFromSuperview();
        to->beginAppearanceTransition(false, false);
        to->endAppearanceTransition();
        from->beginAppearanceTransition(true, false);
        from->endAppearanceTransition();
        nav->stack_ = old;
        for (const auto& c : added) {
            c->willMove(nullptr);
            c->removeFromParent();
        }
        for (const auto& c : removed) {
            c->didMove(nav.get());
        }
        nav->updateBar();
        nav->transitionEnded();
    };
    runTransition(std::make_shared<TransitionContext>(std::move(setup)));
}

void NavigationController::viewWillAppear(bool animated) {
    if (auto top = topViewController()) {
        top->beginAppearanceTransition(true, animated);
    }
}

void NavigationController::viewDidAppear(bool /*animated*/) {
    if (auto top = topViewController()) {
        top->endAppearanceTransition();
    }
}

void NavigationController::viewWillDisappear(bool animated) {
    if (auto top = topViewController()) {
        top->beginAppearanceTransition(false, animated);
    }
}

void NavigationController::viewDidDisappear(bool /*animated*/) {
    if (auto top = topViewController()) {
        top->endAppearanceTransition();
    }
}

void NavigationController::viewWillTransition(Size size) {
    ViewController::viewWillTransition(size);
    layoutContent();
}

}  // namespace pelmar::ui
