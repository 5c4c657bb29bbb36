#include "pelmar/platform/ui/TransitionContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/TransitioningDelegate.h"
#include "pelmar/platform/ui/testing/LoggingController.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using test::Log;
using test::LoggingController;

// Slides the incoming screen up from the bottom over one second.
class SlideUp : public AnimatedTransitioning {
public:
    explicit SlideUp(Log* log) : log_(log) {}

    double transitionDuration(const TransitionContext&) const override { return 1.0; }

    void animateTransition(TransitionContext& context) override {
        auto container = context.containerView();
        auto to = context.view(TransitionContext::Key::To);
        if (container && to && to->superview() != container) {
            const Rect end = context.finalFrame(TransitionContext::Key::To);
            to->setFrame({end.x, container->bounds().height, end.width, end.height});
            container->addSubview(to);
        }
        std::weak_ptr<TransitionContext> weak = context.weak_from_this();
        View::animate(
                1.0,
                [&context, to] {
                    if (to && to->superview()) {
                        to->setFrame(context.finalFrame(TransitionContext::Key::To));
                    }
                },
                [weak](bool) {
                    if (auto c = weak.lock()) {
                        c->completeTransition(!c->transitionWasCancelled());
                    }
                });
    }

    void animationEnded(bool completed) override {
        log_->push_back(completed ? "animator.completed" : "animator.cancelled");
    }

private:
    Log* log_;
};

// A bottom card half the container high.
class CardPresentation : public PresentationController {
public:
    using PresentationController::PresentationController;

    Rect frameOfPresentedViewInContainerView() const override {
        const Rect all = containerView()->bounds();
        return {0, all.height / 2, all.width, all.height / 2};
    }
};

class CardTransitions : public TransitioningDelegate {
public:
    explicit CardTransitions(Log* log) : log_(log) {}

    std::shared_ptr<AnimatedTransitioning> animationControllerForPresented(
            const std::shared_ptr<ViewController>&,
            const std::shared_ptr<ViewController>&) override {
        return std::make_shared<SlideUp>(log_);
    }

    std::shared_ptr<AnimatedTransitioning> animationControllerForDismissed(
            const std::shared_ptr<ViewController>&) override {
        return std::make_shared<SlideUp>(log_);
    }

    std::shared_ptr<InteractiveTransitioning> interactionControllerForDismissal(
            const std::shared_ptr<AnimatedTransitioning>&) override {
        return swipe;
    }

    std::shared_ptr<PresentationController> presentationController(
            const std::shared_ptr<ViewController>& presented,
            const std::shared_ptr<ViewController>& presenting) override {
        return std::make_shared<CardPresentation>(presented, presenting);
    }

    // Set while a swipe drives the dismissal.
    std::shared_ptr<PercentDrivenInteractiveTransition> swipe;

private:
    Log* log_;
};

class TransitionContextTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        transitions_ = std::make_shared<CardTransitions>(&log_);
        card_ = std::make_shared<LoggingController>("card", &log_);
        card_->setModalPresentationStyle(ModalPresentationStyle::Custom);
        card_->setTransitioningDelegate(transitions_);
    }

    Log log_;
    std::shared_ptr<CardTransitions> transitions_;
    std::shared_ptr<LoggingController> card_;
};

TEST_F(TransitionContextTest, ACustomPresentationRunsItsAnimatorInItsPresentationsFrame) {
    bool completed = false;
    root_->present(card_, true, [&] { completed = true; });
    EXPECT_EQ(card_->view()->frame(), (Rect{0, 422, 390, 422}));
    RunLoop::advance(0.9);
    EXPECT_FALSE(completed);
    RunLoop::advance(0.1);
    EXPECT_TRUE(completed);
    EXPECT_EQ(log_, (Log{"card.willAppear", "card.didAppear", "animator.completed"}));
    EXPECT_EQ(root_->view()->window(), window_) << "a custom card leaves the presenter on";
}

TEST_F(TransitionContextTest, AnInteractiveDismissalCancelledThenFinished) {
    root_->present(card_, false);
    RunLoop::advance(1);
    log_.clear();

    // The user drags the card 40% down and lets go: it springs back.
    transitions_->swipe = std::make_shared<PercentDrivenInteractiveTransition>();
    bool dismissed = false;
    card_->dismiss(true, [&] { dismissed = true; });
    auto swipe = transitions_->swipe;
    ASSERT_NE(swipe->context(), nullptr);
    EXPECT_TRUE(swipe->context()->isInteractive());
    swipe->update(0.4);
    EXPECT_DOUBLE_EQ(swipe->percentComplete(), 0.4);
    swipe->cancel();
    RunLoop::advance(0.39);  // 40% of the animator's second to spring back
    EXPECT_TRUE(card_->isBeingDismissed());
    RunLoop::advance(0.01);
    EXPECT_FALSE(dismissed);
    EXPECT_EQ(root_->presentedViewController(), card_);
    EXPECT_TRUE(card_->isAppeared());
    EXPECT_FALSE(card_->isBeingDismissed());
    EXPECT_EQ(card_->view()->window(), window_);
    EXPECT_EQ(log_, (Log{"card.willDisappear", "card.willAppear", "card.didAppear",
                         "animator.cancelled"}));

    // Again, this time past the middle: it goes.
    log_.clear();
    transitions_->swipe = std::make_shared<PercentDrivenInteractiveTransition>();
    card_->dismiss(true, [&] { dismissed = true; });
    transitions_->swipe->update(0.7);
    transitions_->swipe->finish();
    RunLoop::advance(2.0);
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(root_->presentedViewController(), nullptr);
    EXPECT_EQ(card_->view()->window(), nullptr);
    EXPECT_EQ(log_, (Log{"card.willDisappear", "card.didDisappear", "animator.completed"}));
}

TEST_F(TransitionContextTest, ChildrenFollowTheirParentsAppearance) {
    auto parent = std::make_shared<LoggingController>("parent", &log_);
    parent->setModalPresentationStyle(ModalPresentationStyle::FullScreen);
    root_->present(parent, false);
    RunLoop::runUntilIdle();
    log_.clear();

    // Added while the parent is on screen: the child appears as its view enters the window.
    auto child = std::make_shared<LoggingController>("child", &log_);
    parent->addChild(child);
    parent->view()->addSubview(child->view());
    child->didMove(parent.get());
    RunLoop::runUntilIdle();
    EXPECT_EQ(log_,
              (Log{"child.willMoveIn", "child.willAppear", "child.didMoveIn", "child.didAppear"}));

    // The parent going away takes the child with it, parent first.
    log_.clear();
    root_->dismiss(false);
    RunLoop::runUntilIdle();
    EXPECT_EQ(log_, (Log{"parent.willDisappear", "child.willDisappear", "parent.didDisappear",
                         "child.didDisappear"}));

    // Removed while off screen: no appearance calls.
    log_.clear();
    child->willMove(nullptr);
    child->view()->removeFromSuperview();
    child->removeFromParent();
    EXPECT_EQ(log_, (Log{"child.willMoveOut", "child.didMoveOut"}));
    EXPECT_TRUE(parent->children().empty());
}

}  // namespace
}  // namespace pelmar::ui
