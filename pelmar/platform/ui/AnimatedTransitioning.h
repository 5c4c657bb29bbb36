#pragma once

namespace pelmar::ui {

class TransitionContext;

// AnimatedTransitioning: an animator for a transition between screens (presentation, dismissal,
// navigation push and pop). animateTransition() places the views and, when its animations are
// done (on the clock), calls the context's completeTransition(!context.transitionWasCancelled()).
// Ownership: held by the transition under way; implement with std::make_shared.
// Threads: main thread only.
// Errors: none.
class AnimatedTransitioning {
public:
    virtual ~AnimatedTransitioning() = default;

    // Seconds.
    virtual double transitionDuration(const TransitionContext& context) const = 0;

    virtual void animateTransition(TransitionContext& context) = 0;

    // After the transition finished (true) or was cancelled (false).
    virtual void animationEnded(bool /*completed*/) {}
};

// InteractiveTransitioning: drives a transition from a gesture instead of letting it run.
// Ownership: held by the transition under way.
// Threads: main thread only.
// Errors: none.
class InteractiveTransitioning {
public:
    virtual ~InteractiveTransitioning() = default;

    virtual void startInteractiveTransition(TransitionContext& context) = 0;
};

}  // namespace pelmar::ui
