#pragma once

#include <memory>

#include "pelmar/platform/ui/AnimatedTransitioning.h"

namespace pelmar::ui {

class PresentationController;
class ViewController;

// TransitioningDelegate: supplies the custom parts of a presentation and its dismissal. Null from
// any method means "the standard one".
// Ownership: held weakly by the presented controller.
// Threads: main thread only.
// Errors: none.
class TransitioningDelegate {
public:
    virtual ~TransitioningDelegate() = default;

    virtual std::shared_ptr<AnimatedTransitioning> animationControllerForPresented(
            const std::shared_ptr<ViewController>& /*presented*/,
            const std::shared_ptr<ViewController>& /*presenting*/) {
        return nullptr;
    }

    virtual std::shared_ptr<AnimatedTransitioning> animationControllerForDismissed(
            const std::shared_ptr<ViewController>& /*dismissed*/) {
        return nullptr;
    }

    virtual std::shared_ptr<InteractiveTransitioning> interactionControllerForPresentation(
            const std::shared_ptr<AnimatedTransitioning>& /*animator*/) {
        return nullptr;
    }

    virtual std::shared_ptr<InteractiveTransitioning> interactionControllerForDismissal(
            const std::shared_ptr<AnimatedTransitioning>& /*animator*/) {
        return nullptr;
    }

    virtual std::shared_ptr<PresentationController> presentationController(
            const std::shared_ptr<ViewController>& /*presented*/,
            const std::shared_ptr<ViewController>& /*presenting*/) {
        return nullptr;
    }
};

}  // namespace pelmar::ui
