#include "pelmar/platform/ui/TransitionContext.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

TransitionContext::TransitionContext(Setup setup) : setup_(std::move(setup)) {
    container_ = std::exchange(setup_.container, nullptr);
    from_ = std::exchange(setup_.from, nullptr);
    to_ = std::exchange(setup_.to, nullptr);
}

void TransitionContext::start() {
    auto keep = shared_from_this();
    if (setup_.interaction) {
        setup_.interaction->startInteractiveTransition(*this);
    } else if (setup_.animator) {
        setup_.animator->animateTransition(*this);
    } else {
        completeTransition(true);
    }
}

std::shared_ptr<ViewController> TransitionContext::viewController(Key key) const {
    return (key == Key::From ? from_ : to_).lock();
}

std::shared_ptr<View> TransitionContext::view(Key key) const {
    auto controller = viewController(key);
    return controller ? controller->view() : nullptr;
}

Rect TransitionContext::finalFrame(Key key) const {
    return key == Key::From ? setup_.fromFinalFrame : setup_.toFinalFrame;
}

void TransitionContext::completeTransition(bool didComplete) {
    if (finishing_ || animatorDone_ || finished_) {
        return;
    }
    animatorDone_ = true;
    animatorResult_ = didComplete;
    if (!isInteractive()) {
        decided_ = true;
        cancelled_ = !didComplete;
    }
    finishWhenReady();
}

void TransitionContext::updateInteractiveTransition(double percent) {
    if (!decided_ && !std::isnan(percent)) {
        percent_ = std::clamp(percent, 0.0, 1.0);
    }
}

void TransitionContext::finishInteractiveTransition() {
    decide(true);
}

void TransitionContext::cancelInteractiveTransition() {
    decide(false);
}

void TransitionContext::decide(bool finish) {
    if (decided_ || !isInteractive()) {
        return;
    }
    decided_ = true;
    cancelled_ = !finish;
    finishWhenReady();
}

void TransitionContext::finishWhenReady() {
    // An interactive transition is the gesture's: it ends as decided, whenever the animator's
    // own timer would have fired.
    if (!decided_ || (!animatorDone_ && !isInteractive()) || finishing_) {
        return;
    }
    finishing_ = true;
    const bool completed = !cancelled_ && (isInteractive() || animatorResult_);
    // The rest of an interactive animation plays out on the clock; a plain one is already over.
    double rest = 0;
    if (isInteractive() && setup_.animated && setup_.animator) {
        const double duration = setup_.animator->transitionDuration(*this);
        rest = duration * (completed ? 1.0 - percent_ : percent_);
    }
    auto self = shared_from_this();
    auto finish = [self, completed] {
        self->percent_ = completed ? 1.0 : 0.0;
        self->finished_ = true;
        if (self->setup_.onFinish) {
            self->setup_.onFinish(completed);
        }
        if (self->setup_.animator) {
            self->setup_.animator->animationEnded(completed);
        }
        // The controllers, animator and interaction controller are released with the context.
        self->setup_.onFinish = nullptr;
    };
    if (rest > 0) {
        dispatch::Queue::main()->asyncAfter(rest, std::move(finish));
    } else {
        dispatch::Queue::main()->async(std::move(finish));
    }
}

void PercentDrivenInteractiveTransition::startInteractiveTransition(TransitionContext& context) {
    context_ = context.weak_from_this();
    // The animator runs as it would; the context holds its completion until finish or cancel.
    if (auto animator = context.animator()) {
        animator->animateTransition(context);
    }
}

void PercentDrivenInteractiveTransition::update(double percent) {
    if (auto context = context_.lock()) {
        context->updateInteractiveTransition(percent);
    }
}

void PercentDrivenInteractiveTransition::finish() {
    if (auto context = context_.lock()) {
        context->finishInteractiveTransition();
    }
}

void PercentDrivenInteractiveTransition::cancel() {
    if (auto context = context_.lock()) {
        context->cancelInteractiveTransition();
    }
}

double PercentDrivenInteractiveTransition::percentComplete() const {
    auto context = context_.lock();
    return context ? context->percentComplete() : 0.0;
}

}  // namespace pelmar::ui
