#include "pelmar/platform/ui/ViewController.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/TransitioningDelegate.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"
#include "pelmar/platform/ui/internal/StandardAnimator.h"

namespace pelmar::ui {

namespace {

void postCompletion(std::function<void()> completion) {
    if (completion) {
        dispatch::Queue::main()->async(std::move(completion));
    }
}

}  // namespace

ViewController::~ViewController() = default;

std::shared_ptr<View> ViewController::view() {
    loadViewIfNeeded();
    return view_;
}

void ViewController::loadViewIfNeeded() {
    if (view_ || loadingView_) {
        return;
    }
    loadingView_ = true;
    try {
        loadView();
    } catch (...) {
        loadingView_ = false;
        throw;
    }
    if (!view_) {
        setView(std::make_shared<View>());
    }
    loadingView_ = false;
    viewDidLoad();
}

void ViewController::loadView() {
    if (!nibName_.empty()) {
        // Throws for a missing file: a screen without its interface would show nothing.
        setView(Nib::instantiate<ViewController>(nibName_, *this));
        return;
    }
    setView(std::make_shared<View>());
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_) {
        view_->viewController_.reset();
    }
    view_ = std::move(view);
    if (view_) {
        view_->viewController_ = weak_from_this();
    }
}

void ViewController::setTitle(std::string title) {
    title_ = std::move(title);
    if (navigationItem_) {
        navigationItem_->setTitle(title_);
    }
}

std::shared_ptr<NavigationItem> ViewController::navigationItem() {
    if (!navigationItem_) {
        navigationItem_ = std::make_shared<NavigationItem>(title_);
    }
    return navigationItem_;
}

std::shared_ptr<NavigationController> ViewController::navigationController() const {
    for (auto c = parent_.lock(); c; c = c->parent_.lock()) {
        if (auto nav = std::dynamic_pointer_cast<NavigationController>(c)) {
            return nav;
        }
    }
    return nullptr;
}

std::shared_ptr<ViewController> ViewController::rootParent() {
    auto top = shared_from_this();
    while (auto p = top->parent_.lock()) {
        top = p;
    }
    return top;
}

std::shared_ptr<View> ViewController::containerForPresentation() {
    return view_ ? std::static_pointer_cast<View>(view_->window()) : nullptr;
}

void ViewController::runTransition(const std::shared_ptr<TransitionContext>& transition) {
    transition_ = transition;
    transition->start();
}

void ViewController::transitionEnded() {
    auto after = std::move(afterTransition_);
    afterTransition_.clear();
    for (auto& work : after) {
        work();
    }
}

void ViewController::present(std::shared_ptr<ViewController> controller,
                             bool animated,
                             std::function<void()> completion) {
    internal::requireMainThread("ViewController::present");
    if (parent_.lock()) {
        rootParent()->present(std::move(controller), animated, std::move(completion));
        return;
    }
    if (!controller) {
        internal::warn("present: no view controller given; ignored");
        return;
    }
    if (controller.get() == this) {
        internal::warn("present: a view controller cannot present itself; ignored");
        return;
    }
    if (presented_) {
        internal::warn(
                "present: attempt to present on a view controller that is already "
                "presenting one; ignored");
        return;
    }
    if (beingDismissed_) {
        internal::warn(
                "present: attempt to present on a view controller that is being "
                "dismissed; ignored");
        return;
    }
    if (controller->presenting_.lock() || controller->presented_ || controller->parent()) {
        internal::warn(
                "present: the view controller is already part of a presentation or has a "
                "parent; ignored");
        return;
    }

    auto self = shared_from_this();
    presented_ = controller;
    controller->presenting_ = self;
    controller->beingPresented_ = true;
    controller->lastPresentationAnimated_ = animated;
    controller->loadViewIfNeeded();

    auto delegate = controller->transitioningDelegate();
    std::shared_ptr<PresentationController> presentation;
    if (delegate) {
        presentation = delegate->presentationController(controller, self);
    }
    if (!presentation) {
        presentation = std::make_shared<PresentationController>(controller, self);
    }
    presentation->style_ = controller->modalPresentationStyle_;
    auto container = containerForPresentation();
    presentation->container_ = container;
    controller->presentationController_ = presentation;

    const bool onScreen =
            appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing;
    const bool covers = onScreen && presentation->shouldRemovePresentersView();
    coveredByPresented_ = covers;
    if (covers) {
        beginAppearanceTransition(false, animated);
    }
    controller->beginAppearanceTransition(true, animated);
    presentation->presentationTransitionWillBegin();

    std::shared_ptr<AnimatedTransitioning> animator;
    std::shared_ptr<InteractiveTransitioning> interaction;
    if (delegate) {
        animator = delegate->animationControllerForPresented(controller, self);
        if (animator) {
            interaction = delegate->interactionControllerForPresentation(animator);
        }
    }
    if (!animator) {
        animator = std::make_shared<internal::StandardAnimator>(true);
    }

    TransitionContext::Setup setup;
    setup.container = container;
    setup.from = self;
    setup.to = controller;
    setup.fromFinalFrame = view_ ? view_->frame() : Rect{};
    setup.toFinalFrame = presentation->frameOfPresentedViewInContainerView();
    setup.animated = animated;
    setup.animator = animator;
    setup.interaction = interaction;
    // Weak: the presenter holds the transition, which holds this.
    setup.onFinish = [weakSelf = std::weak_ptr<ViewController>(self),
                      weakController = std::weak_ptr<ViewController>(controller), covers,
                      presentation, completion = std::move(completion)](bool completed) {
        auto presenter = weakSelf.lock();
        auto presented = weakController.lock();
        if (presenter && presented) {
            finishPresentation(presenter, presented, covers, presentation, completion, completed);
        }
    };
    runTransition(std::make_shared<TransitionContext>(std::move(setup)));
}

void ViewController::finishPresentation(const std::shared_ptr<ViewController>& self,
                                        const std::shared_ptr<ViewController>& controller,
                                        bool covers,
                                        const std::shared_ptr<PresentationController>& presentation,
                                        const std::function<void()>& completion,
                                        bool completed) {
    self->transition_.reset();
    controller->beingPresented_ = false;
    auto window = presentation->containerView();
    if (completed) {
        // An animator may have left the view out; the screen belongs in the window.
        if (window && controller->view_->superview() != window) {
            controller->view_->setFrame(presentation->frameOfPresentedViewInContainerView());
            window->addSubview(controller->view_);
        }
        if (covers) {
            self->endAppearanceTransition();
            if (self->view_) {
                self->view_->removeFromSuperview();
            }
        }
        controller->endAppearanceTransition();
        presentation->presentationTransitionDidEnd(true);
        if (completion) {
            completion();
        }
        self->transitionEnded();
        return;
    }
    controller->beginAppearanceTransition(false, false);
    controller->endAppearanceTransition();
    controller->view_->removeFromSuperview();
    if (covers) {
        self->beginAppearanceTransition(true, false);
        self->endAppearanceTransition();
    }
    self->coveredByPresented_ = false;
    self->presented_.reset();
    controller->presenting_.reset();
    controller->presentationController_.reset();
    presentation->presentationTransitionDidEnd(false);
    self->transitionEnded();
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
    internal::requireMainThread("ViewController::dismiss");
    if (parent_.lock()) {
        rootParent()->dismiss(animated, std::move(completion));
        return;
    }
    std::shared_ptr<ViewController> target;
    std::shared_ptr<ViewController> presenter;
    if (presented_) {
        target = presented_;
        presenter = shared_from_this();
    } else if (auto presenting = presenting_.lock()) {
        target = shared_from_this();
        presenter = std::move(presenting);
    }
    if (target && target->beingPresented_ && !target->beingDismissed_) {
        // The screen is still coming in: it goes once it is in.
        std::weak_ptr<ViewController> weak = weak_from_this();
        presenter->afterTransition_.push_back(
                [weak, animated, completion = std::move(completion)]() mutable {
                    if (auto self = weak.lock()) {
                        self->dismiss(animated, std::move(completion));
                    }
                });
        return;
    }
    if (target && target->beingDismissed_ && presenter->transition_) {
        // Already going: the completion runs after that dismissal's.
        if (completion) {
            presenter->afterTransition_.push_back(std::move(completion));
        }
        return;
    }
    if (!target || target->beingDismissed_) {
        // Nothing to dismiss: the completion still comes.
        postCompletion(std::move(completion));
        return;
    }

    std::vector<std::shared_ptr<ViewController>> chain;  // target first, top last
    for (auto controller = target; controller; controller = controller->presented_) {
        chain.push_back(controller);
        controller->beingDismissed_ = true;
    }
    target->lastDismissalAnimated_ = animated;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->beginAppearanceTransition(false, animated);
    }
    const bool uncovers = presenter->coveredByPresented_;
    presenter->coveredByPresented_ = false;
    auto presentation = target->presentationController_;
    auto container = presentation ? presentation->containerView() : nullptr;
    if (uncovers && container && presenter->view_ && !presenter->view_->superview()) {
        // Back into the window, under the screen that goes away.
        const auto& subviews = container->subviews();
        auto at = std::find(subviews.begin(), subviews.end(), target->view_);
        container->insertSubview(presenter->view_, static_cast<std::size_t>(at - subviews.begin()));
    }
    if (uncovers) {
        presenter->beginAppearanceTransition(true, animated);
    }
    if (presentation) {
        presentation->dismissalTransitionWillBegin();
    }

    auto delegate = target->transitioningDelegate();
    std::shared_ptr<AnimatedTransitioning> animator;
    std::shared_ptr<InteractiveTransitioning> interaction;
    if (delegate) {
        animator = delegate->animationControllerForDismissed(target);
        if (animator) {
            interaction = delegate->interactionControllerForDismissal(animator);
        }
    }
    if (!animator) {
        animator = std::make_shared<internal::StandardAnimator>(false);
    }

    TransitionContext::Setup setup;
    setup.container = container;
    setup.from = target;
    setup.to = presenter;
    setup.fromFinalFrame = target->view_ ? target->view_->frame() : Rect{};
    setup.toFinalFrame = presenter->view_ ? presenter->view_->frame() : Rect{};
    setup.animated = animated;
    setup.animator = animator;
    setup.interaction = interaction;
    std::vector<std::weak_ptr<ViewController>> weakChain(chain.begin(), chain.end());
    // Weak: the presenter holds the transition, which holds this.
    setup.onFinish = [weakPresenter = std::weak_ptr<ViewController>(presenter),
                      weakTarget = std::weak_ptr<ViewController>(target),
                      weakChain = std::move(weakChain), uncovers, presentation,
                      completion = std::move(completion)](bool completed) {
        auto presenting = weakPresenter.lock();
        auto dismissed = weakTarget.lock();
        std::vector<std::shared_ptr<ViewController>> going;
        for (const auto& weak : weakChain) {
            if (auto c = weak.lock()) {
                going.push_back(std::move(c));
            }
        }
        if (presenting && dismissed) {
            finishDismissal(presenting, dismissed, going, uncovers, presentation, completion,
                            completed);
        }
    };
    presenter->runTransition(std::make_shared<TransitionContext>(std::move(setup)));
}

void ViewController::finishDismissal(const std::shared_ptr<ViewController>& presenter,
                                     const std::shared_ptr<ViewController>& target,
                                     const std::vector<std::shared_ptr<ViewController>>& chain,
                                     bool uncovers,
                                     const std::shared_ptr<PresentationController>& presentation,
                                     const std::function<void()>& completion,
                                     bool completed) {
    presenter->transition_.reset();
    if (!completed) {
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            (*it)->beginAppearanceTransition(true, false);
            (*it)->endAppearanceTransition();
            (*it)->beingDismissed_ = false;
        }
        if (uncovers) {
            presenter->beginAppearanceTransition(false, false);
            presenter->endAppearanceTransition();
            presenter->coveredByPresented_ = true;
            if (presenter->view_) {
                presenter->view_->removeFromSuperview();
            }
        }
        if (presentation) {
            presentation->dismissalTransitionDidEnd(false);
        }
        presenter->transitionEnded();
        return;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->endAppearanceTransition();
        if ((*it)->view_) {
            (*it)->view_->removeFromSuperview();
        }
    }
    if (uncovers) {
        presenter->endAppearanceTransition();
    }
    if (presenter->presented_ == target) {
        presenter->presented_.reset();
    }
    for (const auto& controller : chain) {
        controller->presenting_.reset();
        controller->presented_.reset();
        controller->coveredByPresented_ = false;
        controller->beingDismissed_ = false;
        controller->presentationController_.reset();
    }
    if (presentation) {
        presentation->dismissalTransitionDidEnd(true);
    }
    if (completion) {
        completion();
    }
    presenter->transitionEnded();
}

TraitCollection ViewController::traitCollection() const {
    if (view_) {
        if (auto window = view_->window()) {
            return window->traitCollection();
        }
    }
    if (auto key = Application::shared().keyWindow()) {
        return key->traitCollection();
    }
    return TraitCollection::forWindow(Screen::main().bounds().size(),
                                      Device::current().userInterfaceIdiom());
}

void ViewController::layoutPresentedView() {
    if (presentationController_ && view_ && view_->superview()) {
        view_->setFrame(presentationController_->frameOfPresentedViewInContainerView());
    }
}

void ViewController::addChild(const std::shared_ptr<ViewController>& child) {
    internal::requireMainThread("ViewController::addChild");
    if (!child || child.get() == this || child->parent_.lock().get() == this) {
        return;
    }
    for (auto p = shared_from_this(); p; p = p->parent_.lock()) {
        if (p == child) {
            internal::warn(
                    "addChild: a controller cannot become a child of its own child; ignored");
            return;
        }
    }
    child->willMove(this);
    if (child->parent_.lock()) {
        child->removeFromParent();
    }
    children_.push_back(child);
    child->parent_ = weak_from_this();
}

void ViewController::removeFromParent() {
    internal::requireMainThread("ViewController::removeFromParent");
    auto parent = parent_.lock();
    if (!parent) {
        return;
    }
    auto keep = shared_from_this();
    auto& siblings = parent->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), keep), siblings.end());
    parent_.reset();
    didMove(nullptr);
}

void ViewController::viewMovedToWindow(bool entered) {
    auto parent = parent_.lock();
    if (!parent || !parent->shouldAutomaticallyForwardAppearanceMethods()
        || parent->appearance_ != Appearance::Appeared) {
        return;
    }
    beginAppearanceTransition(entered, false);
    std::weak_ptr<ViewController> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) {
            self->endAppearanceTransition();
        }
    });
}

void ViewController::forwardAppearance(bool begin, bool isAppearing, bool animated) {
    if (!shouldAutomaticallyForwardAppearanceMethods() || !view_) {
        return;
    }
    const auto children = children_;
    for (const auto& child : children) {
        if (!child->view_ || !child->view_->isDescendant(*view_)) {
            continue;
        }
        if (begin) {
            child->beginAppearanceTransition(isAppearing, animated);
        } else {
            child->endAppearanceTransition();
        }
    }
}

void ViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
    if (isAppearing) {
        if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) {
            return;
        }
        appearance_ = Appearance::Appearing;
        transitionAnimated_ = animated;
        loadViewIfNeeded();
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) {
            return;
        }
        appearance_ = Appearance::Disappearing;
        transitionAnimated_ = animated;
        viewWillDisappear(animated);
    }
    forwardAppearance(true, isAppearing, animated);
}

void ViewController::endAppearanceTransition() {
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(transitionAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(transitionAnimated_);
    } else {
        return;
    }
    forwardAppearance(false, false, transitionAnimated_);
}

}  // namespace pelmar::ui
