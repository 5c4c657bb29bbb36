#include "pelmar/platform/ui/internal/StandardAnimator.h"

#include <algorithm>

#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui::internal {

double StandardAnimator::transitionDuration(const TransitionContext& context) const {
    return context.isAnimated() ? TransitionContext::kStandardDuration : 0.0;
}

void StandardAnimator::animateTransition(TransitionContext& context) {
    auto container = context.containerView();
    auto to = context.view(TransitionContext::Key::To);
    if (container && to && to->superview() != container) {
        to->setFrame(context.finalFrame(TransitionContext::Key::To));
        to->layoutIfNeeded();
        auto from = context.view(TransitionContext::Key::From);
        const auto& subviews = container->subviews();
        auto at = std::find(subviews.begin(), subviews.end(), from);
        if (!incomingOnTop_ && at != subviews.end()) {
            container->insertSubview(to, static_cast<std::size_t>(at - subviews.begin()));
        } else {
            container->addSubview(to);
        }
    }
    std::weak_ptr<TransitionContext> weak = context.weak_from_this();
    View::animate(transitionDuration(context), nullptr, [weak](bool) {
        if (auto c = weak.lock()) {
            c->completeTransition(!c->transitionWasCancelled());
        }
    });
}

}  // namespace pelmar::ui::internal
