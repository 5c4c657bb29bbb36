#include "pelmar/platform/ui/ViewController.h"

#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

namespace {

bool takesPresenterOffScreen(ModalPresentationStyle style) {
    return style == ModalPresentationStyle::FullScreen
           || style == ModalPresentationStyle::CurrentContext;
}

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
    loadView();
    if (!view_) {
        view_ = std::make_shared<View>();
    }
    loadingView_ = false;
    viewDidLoad();
}

void ViewController::loadView() {
    if (!nibName_.empty()) {
        if (auto view = Nib::instantiate(nibName_, *this)) {
            view_ = std::move(view);
            return;
        }
        internal::warn("loadView: no interface file named \"" + nibName_ + "\"; plain view");
    }
    view_ = std::make_shared<View>();
}

void ViewController::present(std::shared_ptr<ViewController> controller,
                             bool animated,
                             std::function<void()> completion) {
    internal::requireMainThread("ViewController::present");
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
    if (controller->presenting_.lock() || controller->presented_) {
        internal::warn(
                "present: the view controller is already part of a presentation; "
                "ignored");
        return;
    }

    auto self = shared_from_this();
    presented_ = controller;
    controller->presenting_ = self;
    controller->beingPresented_ = true;
    controller->lastPresentationAnimated_ = animated;
    controller->loadViewIfNeeded();

    const bool onScreen =
            appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing;
    const bool covers = onScreen && takesPresenterOffScreen(controller->modalPresentationStyle_);
    coveredByPresented_ = covers;
    if (covers) {
        beginAppearanceTransition(false, animated);
    }
    controller->beginAppearanceTransition(true, animated);

    dispatch::Queue::main()->async([self, controller, covers, completion = std::move(completion)] {
        if (covers) {
            self->endAppearanceTransition();
        }
        controller->endAppearanceTransition();
        controller->beingPresented_ = false;
        if (completion) {
            completion();
        }
    });
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
    internal::requireMainThread("ViewController::dismiss");
    std::shared_ptr<ViewController> target;
    std::shared_ptr<ViewController> presenter;
    if (presented_) {
        target = presented_;
        presenter = shared_from_this();
    } else if (auto presenting = presenting_.lock()) {
        target = shared_from_this();
        presenter = std::move(presenting);
    }
    if (!target || target->beingDismissed_) {
        // Nothing to dismiss, or already going: the completion runs after that dismissal's.
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
    if (uncovers) {
        presenter->beginAppearanceTransition(true, animated);
    }

    dispatch::Queue::main()->async([presenter, target, chain = std::move(chain), uncovers,
                                    completion = std::move(completion)] {
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            (*it)->endAppearanceTransition();
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
        }
        if (completion) {
            completion();
        }
    });
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
}

void ViewController::endAppearanceTransition() {
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(transitionAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(transitionAnimated_);
    }
}

}  // namespace pelmar::ui
