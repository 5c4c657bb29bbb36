#include "pelmar/platform/ui/ViewController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using Log = std::vector<std::string>;

// Writes "<name>.<event>" for every lifecycle callback into a shared log.
class RecordingController : public ViewController {
public:
    RecordingController(std::string name, Log* log) : name_(std::move(name)), log_(log) {}

    void viewDidLoad() override { log_->push_back(name_ + ".didLoad"); }

    void viewWillAppear(bool) override { log_->push_back(name_ + ".willAppear"); }

    void viewDidAppear(bool) override { log_->push_back(name_ + ".didAppear"); }

    void viewWillDisappear(bool) override { log_->push_back(name_ + ".willDisappear"); }

    void viewDidDisappear(bool) override { log_->push_back(name_ + ".didDisappear"); }

private:
    std::string name_;
    Log* log_;
};

class ViewControllerTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        window_ = std::make_shared<Window>(Rect{0, 0, 390, 844});
        root_ = make("root");
        window_->setRootViewController(root_);
        window_->makeKeyAndVisible();
        RunLoop::advance(1);
        log_.clear();
    }

    void TearDown() override {
        Application::shared().setKeyWindow(nullptr);
        MainLoopFixture::TearDown();
    }

    std::shared_ptr<RecordingController> make(
            std::string name, ModalPresentationStyle style = ModalPresentationStyle::FullScreen) {
        auto controller = std::make_shared<RecordingController>(std::move(name), &log_);
        controller->setModalPresentationStyle(style);
        return controller;
    }

    // Presents `controller` on `presenter` and finishes the transition.
    void presentNow(const std::shared_ptr<ViewController>& presenter,
                    const std::shared_ptr<ViewController>& controller) {
        presenter->present(controller, false);
        RunLoop::advance(1);
    }

    Log log_;
    std::shared_ptr<Window> window_;
    std::shared_ptr<RecordingController> root_;
};

TEST_F(ViewControllerTest, TheKeyWindowShowsItsRoot) {
    EXPECT_EQ(Application::shared().keyWindow(), window_);
    EXPECT_TRUE(window_->isKeyWindow());
    EXPECT_TRUE(root_->isAppeared());
    EXPECT_EQ(root_->view()->superview(), window_);
    EXPECT_EQ(root_->view()->window(), window_);
    EXPECT_EQ(root_->view()->frame(), (Rect{0, 0, 390, 844}));
    EXPECT_EQ(root_->navigationController(), nullptr);
}

TEST_F(ViewControllerTest, PresentLinksAtOnceAndCompletesOnTheClock) {
    auto sheet = make("sheet");
    bool completed = false;
    root_->present(sheet, true, [&] { completed = true; });

    EXPECT_EQ(root_->presentedViewController(), sheet);
    EXPECT_EQ(sheet->presentingViewController(), root_);
    EXPECT_TRUE(sheet->isBeingPresented());
    EXPECT_EQ(sheet->lastPresentationAnimated(), true);
    EXPECT_EQ(log_, (Log{"sheet.didLoad", "root.willDisappear", "sheet.willAppear"}));
    EXPECT_FALSE(completed);

    RunLoop::advance(0.29);
    EXPECT_FALSE(completed);
    RunLoop::advance(0.01);
    EXPECT_EQ(log_, (Log{"sheet.didLoad", "root.willDisappear", "sheet.willAppear",
                         "root.didDisappear", "sheet.didAppear"}));
    EXPECT_TRUE(completed);
    EXPECT_FALSE(sheet->isBeingPresented());
}

TEST_F(ViewControllerTest, OnlyFullScreenStylesTakeThePresenterOffScreen) {
    struct Case {
        ModalPresentationStyle style;
        bool presenterDisappears;
    };

    const Case cases[] = {
            {ModalPresentationStyle::FullScreen, true},
            {ModalPresentationStyle::CurrentContext, true},
            {ModalPresentationStyle::Automatic, false},
            {ModalPresentationStyle::PageSheet, false},
            {ModalPresentationStyle::OverFullScreen, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.style));
        auto sheet = make("sheet", c.style);
        presentNow(root_, sheet);
        EXPECT_EQ(root_->isAppeared(), !c.presenterDisappears);
        log_.clear();

        root_->dismiss(false);
        RunLoop::advance(1);
        EXPECT_TRUE(root_->isAppeared());
        const Log back = c.presenterDisappears ? Log{"sheet.willDisappear", "root.willAppear",
                                                     "sheet.didDisappear", "root.didAppear"}
                                               : Log{"sheet.willDisappear", "sheet.didDisappear"};
        EXPECT_EQ(log_, back);
        log_.clear();
    }
}

TEST_F(ViewControllerTest, PresentingOnAPresenterIsRefused) {
    auto first = make("first");
    auto second = make("second");
    bool completed = false;
    root_->present(first, true);
    root_->present(second, true, [&] { completed = true; });  // refused even mid-transition
    RunLoop::advance(1);
    EXPECT_EQ(root_->presentedViewController(), first);
    EXPECT_EQ(second->presentingViewController(), nullptr);
    EXPECT_FALSE(second->isViewLoaded());
    EXPECT_FALSE(completed);

    // An already presented controller cannot be presented again elsewhere either.
    auto other = make("other");
    presentNow(first, other);
    second->present(other, false);
    EXPECT_EQ(other->presentingViewController(), first);
}

TEST_F(ViewControllerTest, DismissRemovesTheRightPartOfTheChain) {
    struct Case {
        const char* name;
        int caller;           // index in {root, a, b} of the controller dismiss() is called on
        int remainingLength;  // controllers left in the chain, root included
    };

    const Case cases[] = {
            {"on the root: everything above it goes", 0, 1},
            {"on a presenter: what it presents goes", 1, 2},
            {"on the top: it dismisses itself", 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = make("a");
        auto b = make("b");
        presentNow(root_, a);
        presentNow(a, b);
        const std::shared_ptr<ViewController> chain[] = {root_, a, b};
        bool completed = false;
        chain[c.caller]->dismiss(true, [&] { completed = true; });

        EXPECT_EQ(root_->presentedViewController(), a) << "unlinked only when it completes";
        EXPECT_TRUE(b->isBeingDismissed());
        RunLoop::advance(1);
        EXPECT_TRUE(completed);

        int length = 1;
        for (auto top = chain[0]->presentedViewController(); top;
             top = top->presentedViewController()) {
            ++length;
        }
        EXPECT_EQ(length, c.remainingLength);
        EXPECT_EQ(b->presentingViewController(), nullptr);
        EXPECT_FALSE(b->isAppeared());
        EXPECT_FALSE(b->isBeingDismissed());
        EXPECT_EQ(c.remainingLength == 1 ? a->lastDismissalAnimated() : b->lastDismissalAnimated(),
                  true);

        root_->dismiss(false);
        RunLoop::advance(1);
        ASSERT_EQ(root_->presentedViewController(), nullptr);
        ASSERT_TRUE(root_->isAppeared());
        log_.clear();
    }
}

TEST_F(ViewControllerTest, DismissingAChainOnlyTellsWhatWasOnScreen) {
    auto a = make("a");
    auto b = make("b");
    presentNow(root_, a);
    presentNow(a, b);
    log_.clear();

    root_->dismiss(false);
    RunLoop::advance(1);
    // a was already covered by b: it neither disappears again nor reappears.
    EXPECT_EQ(log_,
              (Log{"b.willDisappear", "root.willAppear", "b.didDisappear", "root.didAppear"}));
}

TEST_F(ViewControllerTest, DismissCompletesEvenWithNothingToDismiss) {
    bool completed = false;
    root_->dismiss(true, [&] { completed = true; });
    EXPECT_FALSE(completed);
    RunLoop::runOnce();
    EXPECT_TRUE(completed);
}

TEST_F(ViewControllerTest, ASecondDismissCompletesAfterTheFirst) {
    auto sheet = make("sheet");
    presentNow(root_, sheet);
    std::vector<int> completions;
    root_->dismiss(true, [&] { completions.push_back(1); });
    sheet->dismiss(true, [&] { completions.push_back(2); });
    root_->present(make("refused"), false);  // the presenter is still busy dismissing
    RunLoop::advance(1);
    EXPECT_EQ(completions, (std::vector<int>{1, 2}));
    EXPECT_EQ(root_->presentedViewController(), nullptr);
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "sheet.didDisappear"), 1);
}

TEST_F(ViewControllerTest, PresentingFromADismissCompletionSucceeds) {
    auto first = make("first");
    auto second = make("second");
    presentNow(root_, first);
    root_->dismiss(true, [&] { root_->present(second, true); });
    RunLoop::advance(1);
    EXPECT_EQ(root_->presentedViewController(), second);
    EXPECT_TRUE(second->isAppeared());
}

TEST_F(ViewControllerTest, ReplacingTheRootSwapsAppearance) {
    auto next = make("next");
    window_->setRootViewController(next);
    RunLoop::advance(1);
    EXPECT_EQ(log_, (Log{"next.didLoad", "root.willDisappear", "next.willAppear",
                         "root.didDisappear", "next.didAppear"}));
    EXPECT_EQ(root_->view()->superview(), nullptr);
    EXPECT_EQ(window_->subviews(), (std::vector<std::shared_ptr<View>>{next->view()}));
}

TEST_F(ViewControllerTest, PresentingOffTheMainThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([this] { root_->present(make("sheet"), false); }).join(),
                 "present called off the main thread");
}

}  // namespace
}  // namespace pelmar::ui

namespace pelmar::ui {
namespace {

TEST_F(ViewControllerTest, AScreenDismissedWhileComingInGoesOnceInAndIsFreed) {
    auto sheet = make("sheet");
    std::weak_ptr<ViewController> weak = sheet;
    root_->present(sheet, true);
    bool dismissed = false;
    sheet->dismiss(true, [&] { dismissed = true; });
    sheet.reset();
    RunLoop::advance(TransitionContext::kStandardDuration);
    EXPECT_FALSE(dismissed);
    EXPECT_EQ(log_,
              (Log{"sheet.didLoad", "root.willDisappear", "sheet.willAppear", "root.didDisappear",
                   "sheet.didAppear", "sheet.willDisappear", "root.willAppear"}));
    RunLoop::advance(TransitionContext::kStandardDuration);
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(root_->view()->window(), window_);
    EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace pelmar::ui

namespace pelmar::ui {
namespace {

TEST_F(ViewControllerTest, APresentedScreenIsInTheKeyWindowSizedByItsStyle) {
    struct Case {
        const char* name;
        ModalPresentationStyle style;
        Rect frame;
        bool presenterLeavesTheWindow;
    };

    // The fixture's window covers the 390 x 844 screen, whose top inset is 47.
    const Case cases[] = {
            {"full screen", ModalPresentationStyle::FullScreen, {0, 0, 390, 844}, true},
            {"over full screen", ModalPresentationStyle::OverFullScreen, {0, 0, 390, 844}, false},
            {"over the current context",
             ModalPresentationStyle::OverCurrentContext,
             {0, 0, 390, 844},
             false},
            {"a form sheet on a phone",
             ModalPresentationStyle::FormSheet,
             {0, 57, 390, 787},
             false},
            {"a popover an arrow's length under its source",
             ModalPresentationStyle::Popover,
             {45, 140 + PresentationController::kPopoverArrowLength, 300, 200},
             false},
    };
    auto source = std::make_shared<View>(Rect{150, 100, 90, 40});
    root_->view()->addSubview(source);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto screen = make("screen", c.style);
        screen->setPreferredContentSize({300, 200});
        screen->setPopoverSourceView(source);
        root_->present(screen, true);
        EXPECT_EQ(screen->view()->window(), window_) << "in the window from the start";
        EXPECT_EQ(screen->view()->frame(), c.frame);
        RunLoop::advance(1);
        EXPECT_TRUE(screen->view()->isEffectivelyVisible());
        EXPECT_EQ(window_->topmostScreenView(), screen->view());
        EXPECT_EQ(root_->view()->window() == nullptr, c.presenterLeavesTheWindow);

        root_->dismiss(true);
        RunLoop::advance(1);
        EXPECT_EQ(screen->view()->window(), nullptr);
        EXPECT_EQ(root_->view()->window(), window_);
        EXPECT_EQ(window_->topmostScreenView(), root_->view());
    }
}

// Logs the window moves of a view.
class WindowWatcher : public View {
public:
    explicit WindowWatcher(Log* log) : log_(log) {}

protected:
    void willMoveToWindow(const std::shared_ptr<Window>& window) override {
        log_->push_back(window ? "will enter" : "will leave");
    }

    void didMoveToWindow() override { log_->push_back(window() ? "entered" : "left"); }

private:
    Log* log_;
};

TEST_F(ViewControllerTest, ViewsDeepInAPresentedScreenHearTheyMoveInAndOutOfTheWindow) {
    auto screen = make("screen");
    Log moves;
    auto deep = std::make_shared<WindowWatcher>(&moves);
    auto box = std::make_shared<View>();
    box->addSubview(deep);
    screen->view()->addSubview(box);
    log_.clear();
    EXPECT_TRUE(moves.empty());
    EXPECT_FALSE(deep->isEffectivelyVisible());

    presentNow(root_, screen);
    EXPECT_EQ(moves, (Log{"will enter", "entered"}));
    EXPECT_TRUE(deep->isEffectivelyVisible());
    box->setAlpha(0);
    EXPECT_FALSE(deep->isEffectivelyVisible());

    root_->dismiss(false);
    RunLoop::advance(1);
    EXPECT_EQ(moves, (Log{"will enter", "entered", "will leave", "left"}));
}

}  // namespace
}  // namespace pelmar::ui

namespace pelmar::ui {
namespace {

TEST_F(ViewControllerTest, ScreensLeftMidTransitionAreFreedWithTheirOwner) {
    auto window = std::make_shared<Window>();
    std::weak_ptr<Window> weakWindow = window;
    auto presenter = make("presenter");
    window->setRootViewController(presenter);
    auto sheet = make("sheet");
    std::weak_ptr<ViewController> weakPresenter = presenter;
    std::weak_ptr<ViewController> weakSheet = sheet;
    presenter->present(sheet, true);
    ASSERT_NE(presenter->transitionInProgress(), nullptr);
    presenter.reset();
    sheet.reset();
    window.reset();
    EXPECT_TRUE(weakWindow.expired());
    EXPECT_TRUE(weakPresenter.expired());
    EXPECT_TRUE(weakSheet.expired());
    RunLoop::advance(1);  // the abandoned transition's timer finds nothing to finish
}

}  // namespace
}  // namespace pelmar::ui
