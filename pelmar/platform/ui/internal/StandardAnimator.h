#pragma once

#include "pelmar/platform/ui/AnimatedTransitioning.h"

namespace pelmar::ui::internal {

// StandardAnimator: the transition used when nobody supplies one. It puts the incoming view at its
// final frame in the container (on top for a presentation or push, under the outgoing view for a
// dismissal or pop) and completes after TransitionContext::kStandardDuration seconds on the clock
// when animated, or on the next main-loop turn when not.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: none.
class StandardAnimator : public AnimatedTransitioning {
public:
    // `incomingOnTop`: false when the outgoing view stays above (dismissal, pop).
    explicit StandardAnimator(bool incomingOnTop) : incomingOnTop_(incomingOnTop) {}

    double transitionDuration(const TransitionContext& context) const override;

    void animateTransition(TransitionContext& context) override;

private:
    bool incomingOnTop_;
};

}  // namespace pelmar::ui::internal
