#include "pelmar/platform/ui/NavigationController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/testing/LoggingController.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using test::Log;
using test::LoggingController;

class NavigationControllerTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        first_ = std::make_shared<LoggingController>("first", &log_);
        navigation_ = std::make_shared<NavigationController>(first_);
        navigation_->setModalPresentationStyle(ModalPresentationStyle::FullScreen);
        root_->present(navigation_, false);
        RunLoop::runUntilIdle();
        log_.clear();
    }

    Log log_;
    std::shared_ptr<LoggingController> first_;
    std::shared_ptr<NavigationController> navigation_;
};

TEST_F(NavigationControllerTest, PushAndPopSwapScreensInOrderOnTheClock) {
    EXPECT_TRUE(first_->isAppeared());
    EXPECT_EQ(first_->navigationController(), navigation_);
    auto second = std::make_shared<LoggingController>("second", &log_);
    navigation_->push(second, true);
    EXPECT_EQ(log_, (Log{"second.willMoveIn", "first.willDisappear", "second.willAppear"}));
    EXPECT_EQ(second->view()->window(), window_);

    RunLoop::advance(TransitionContext::kStandardDuration);
    EXPECT_EQ(log_, (Log{"second.willMoveIn", "first.willDisappear", "second.willAppear",
                         "first.didDisappear", "second.didAppear", "second.didMoveIn"}));
    EXPECT_EQ(navigation_->topViewController(), second);
    EXPECT_EQ(first_->view()->window(), nullptr);
    const Rect content = second->view()->frame();
    EXPECT_EQ(content.y, 47 + NavigationBar::kHeight);  // below the status area and the bar

    // The user goes back with the bar's back button, which reads the previous title.
    log_.clear();
    auto bar = navigation_->navigationBar();
    EXPECT_EQ(bar->title(), "second");
    EXPECT_EQ(bar->backButtonTitle(), "first");
    ASSERT_TRUE(bar->backButton()->tap());
    RunLoop::advance(TransitionContext::kStandardDuration);
    EXPECT_EQ(log_, (Log{"second.willMoveOut", "second.willDisappear", "first.willAppear",
                         "second.didDisappear", "first.didAppear", "second.didMoveOut"}));
    EXPECT_EQ(navigation_->viewControllers().size(), 1U);
    EXPECT_EQ(second->parent(), nullptr);
    EXPECT_EQ(bar->backButton(), nullptr);
}

TEST_F(NavigationControllerTest, RefusesChangesItCannotMake) {
    EXPECT_EQ(navigation_->pop(true), nullptr);  // the root stays
    auto second = std::make_shared<LoggingController>("second", &log_);
    navigation_->push(second, true);
    navigation_->push(std::make_shared<LoggingController>("third", &log_), true);  // mid-way
    navigation_->push(first_, false);  // already on the stack
    RunLoop::advance(1);
    EXPECT_EQ(navigation_->viewControllers(),
              (std::vector<std::shared_ptr<ViewController>>{first_, second}));
}

TEST_F(NavigationControllerTest, SetAndPopToRootShowTheNewTopAndReleaseTheRest) {
    auto second = std::make_shared<LoggingController>("second", &log_);
    auto third = std::make_shared<LoggingController>("third", &log_);
    navigation_->setViewControllers({first_, second, third}, false);
    RunLoop::runUntilIdle();
    EXPECT_EQ(navigation_->topViewController(), third);
    EXPECT_TRUE(third->isAppeared());
    EXPECT_FALSE(second->isAppeared());
    EXPECT_EQ(second->parent(), navigation_);

    std::weak_ptr<ViewController> weakSecond = second;
    std::weak_ptr<ViewController> weakThird = third;
    second.reset();
    third.reset();
    navigation_->popToRoot(false);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(first_->isAppeared());
    EXPECT_TRUE(weakSecond.expired());
    EXPECT_TRUE(weakThird.expired());
}

TEST_F(NavigationControllerTest, BarButtonItemsBecomeButtonsAUserCanTap) {
    int taps = 0;
    auto done = std::make_shared<BarButtonItem>("Done", [&] { ++taps; });
    first_->navigationItem()->setRightBarButtonItems({done});
    auto second = std::make_shared<LoggingController>("second", &log_);
    navigation_->push(second, false);
    RunLoop::runUntilIdle();
    EXPECT_EQ(done->view(), nullptr) << "only the top item's buttons are shown";
    navigation_->pop(false);
    RunLoop::runUntilIdle();

    ASSERT_NE(done->view(), nullptr);
    EXPECT_TRUE(done->view()->tap());
    done->setEnabled(false);
    EXPECT_FALSE(done->view()->tap());
    EXPECT_EQ(taps, 1);
}

TEST_F(NavigationControllerTest, ABarThatGrowsForTheSafeAreaShowsItsItemsAlongItsBottom) {
    navigation_->push(std::make_shared<LoggingController>("second", &log_), false);
    RunLoop::runUntilIdle();
    // The bar comes back (as after full screen) once the safe area has grown: it is resized
    // outside a layout pass.
    navigation_->setNavigationBarHidden(true);
    window_->setSafeAreaInsets(EdgeInsets{47, 0, 0, 0});
    navigation_->setNavigationBarHidden(false);
    const auto& bar = navigation_->navigationBar();
    ASSERT_EQ(bar->frame().height, 47 + NavigationBar::kHeight);
    const auto painted = render(*bar, 2);
    ASSERT_TRUE(painted);
    const auto title = test::inkRuns(*painted, Rect::of({}, bar->bounds().size()),
                                     bar->effectiveTintColor(), 0.3);
    ASSERT_FALSE(title.empty()) << "the back button is painted";
    for (const auto& glyph : title) {
        EXPECT_GT(glyph.top, 47) << "below the safe area";
    }
}

// Pops by a swipe from the edge: the standard animator, driven by the swipe.
class EdgeSwipe : public NavigationControllerDelegate {
public:
    std::shared_ptr<AnimatedTransitioning> animationController(
            NavigationController&,
            Operation operation,
            const std::shared_ptr<ViewController>&,
            const std::shared_ptr<ViewController>&) override {
        operations.push_back(operation);
        return operation == Operation::Pop ? std::make_shared<Slide>() : nullptr;
    }

    std::shared_ptr<InteractiveTransitioning> interactionController(
            NavigationController&, const std::shared_ptr<AnimatedTransitioning>&) override {
        return swipe;
    }

    void didShow(NavigationController&, ViewController& shown, bool) override {
        shownTitles.push_back(shown.title());
    }

    // Puts the incoming screen in place at once and completes after half a second.
    class Slide : public AnimatedTransitioning {
    public:
        double transitionDuration(const TransitionContext&) const override { return 0.5; }

        void animateTransition(TransitionContext& context) override {
            auto to = context.view(TransitionContext::Key::To);
            to->setFrame(context.finalFrame(TransitionContext::Key::To));
            context.containerView()->insertSubview(to, 0);
            std::weak_ptr<TransitionContext> weak = context.weak_from_this();
            View::animate(0.5, nullptr, [weak](bool) {
                if (auto c = weak.lock()) {
                    c->completeTransition(!c->transitionWasCancelled());
                }
            });
        }
    };

    std::shared_ptr<PercentDrivenInteractiveTransition> swipe;
    std::vector<Operation> operations;
    std::vector<std::string> shownTitles;
};

TEST_F(NavigationControllerTest, AnInteractivePopCancelledKeepsTheStackAndFinishedPops) {
    auto edge = std::make_shared<EdgeSwipe>();
    navigation_->setDelegate(edge);
    auto second = std::make_shared<LoggingController>("second", &log_);
    navigation_->push(second, true);
    RunLoop::advance(1);
    log_.clear();

    edge->swipe = std::make_shared<PercentDrivenInteractiveTransition>();
    EXPECT_EQ(navigation_->pop(true), second);
    edge->swipe->update(0.3);
    edge->swipe->cancel();
    RunLoop::advance(1);
    EXPECT_EQ(navigation_->topViewController(), second);
    EXPECT_EQ(second->parent(), navigation_);
    EXPECT_TRUE(second->isAppeared());
    EXPECT_FALSE(first_->isAppeared());
    EXPECT_EQ(first_->view()->window(), nullptr);
    EXPECT_EQ(log_, (Log{"second.willMoveOut", "second.willDisappear", "first.willAppear",
                         "first.willDisappear", "first.didDisappear", "second.willAppear",
                         "second.didAppear", "second.didMoveIn"}));

    edge->swipe = std::make_shared<PercentDrivenInteractiveTransition>();
    navigation_->pop(true);
    edge->swipe->update(0.8);
    edge->swipe->finish();
    RunLoop::advance(1);
    EXPECT_EQ(navigation_->topViewController(), first_);
    EXPECT_EQ(second->parent(), nullptr);
    EXPECT_EQ(edge->operations, (std::vector<EdgeSwipe::Operation>{EdgeSwipe::Operation::Push,
                                                                   EdgeSwipe::Operation::Pop,
                                                                   EdgeSwipe::Operation::Pop}));
    EXPECT_EQ(edge->shownTitles, (std::vector<std::string>{"second", "first"}));
}

}  // namespace
}  // namespace pelmar::ui
