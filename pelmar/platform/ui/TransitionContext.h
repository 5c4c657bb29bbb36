#pragma once

#include <functional>
#include <memory>

#include "pelmar/platform/ui/AnimatedTransitioning.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

class View;
class ViewController;

// TransitionContext: one transition between two screens under way: the container view the
// animator works in, the controllers and their views, where each ends, and how it ends. A plain
// transition ends when the animator calls completeTransition. An interactive one is steered with
// updateInteractiveTransition(percent) and ends as finishInteractiveTransition() or
// cancelInteractiveTransition() decided: the rest of the animation (the part still to play, or the
// part to play back) runs on the clock, and a completeTransition from the animator is then moot.
// Either way the outcome is applied on a later main-loop turn.
// Ownership: reference object made by the transition's owner, which holds it until it is over;
// holds its animator and interaction controller, and refers to its container and both controllers
// weakly (a transition abandoned with its screens and window frees them).
// Threads: main thread only.
// Errors: calls after the transition ended are ignored; percent is clamped to [0, 1].
class TransitionContext : public std::enable_shared_from_this<TransitionContext> {
public:
    enum class Key : int { From, To };

    // Seconds an animated transition takes when nobody supplies the animator.
    static constexpr double kStandardDuration = 0.3;

    struct Setup {
        std::shared_ptr<View> container;  // may be null for controllers outside any window
        std::shared_ptr<ViewController> from;
        std::shared_ptr<ViewController> to;
        Rect fromFinalFrame;
        Rect toFinalFrame;
        bool animated = true;
        std::shared_ptr<AnimatedTransitioning> animator;
        std::shared_ptr<InteractiveTransitioning> interaction;
        std::function<void(bool completed)> onFinish;
    };

    explicit TransitionContext(Setup setup);

    // Starts the animator, or the interaction controller when there is one.
    void start();

    std::shared_ptr<View> containerView() const { return container_.lock(); }

    std::shared_ptr<ViewController> viewController(Key key) const;

    std::shared_ptr<View> view(Key key) const;

    Rect finalFrame(Key key) const;

    bool isAnimated() const { return setup_.animated; }

    bool isInteractive() const { return setup_.interaction != nullptr; }

    bool transitionWasCancelled() const { return cancelled_; }

    double percentComplete() const { return percent_; }

    void completeTransition(bool didComplete);

    void updateInteractiveTransition(double percent);

    void finishInteractiveTransition();

    void cancelInteractiveTransition();

    bool isFinished() const { return finished_; }

    // The animator of this transition (an interaction controller starts it).
    std::shared_ptr<AnimatedTransitioning> animator() const { return setup_.animator; }

private:
    void decide(bool finish);
    void finishWhenReady();

    Setup setup_;  // container, from and to are moved into the weak references below
    std::weak_ptr<View> container_;
    std::weak_ptr<ViewController> from_;
    std::weak_ptr<ViewController> to_;
    double percent_ = 0;
    bool cancelled_ = false;
    bool animatorDone_ = false;
    bool animatorResult_ = true;
    bool decided_ = false;
    bool finishing_ = false;
    bool finished_ = false;
};

// PercentDrivenInteractiveTransition: an interaction controller that a gesture steers: it starts
// the animator and then passes update/finish/cancel to the context.
// Ownership: reference object made with std::make_shared; refers to the context weakly.
// Threads: main thread only.
// Errors: calls without a transition under way are ignored.
class PercentDrivenInteractiveTransition : public InteractiveTransitioning {
public:
    void startInteractiveTransition(TransitionContext& context) override;

    void update(double percent);

    void finish();

    void cancel();

    double percentComplete() const;

    std::shared_ptr<TransitionContext> context() const { return context_.lock(); }

private:
    std::weak_ptr<TransitionContext> context_;
};

}  // namespace pelmar::ui
