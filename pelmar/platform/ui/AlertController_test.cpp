#include "pelmar/platform/ui/AlertController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;

class Screen : public ViewController {
public:
    void viewWillDisappear(bool) override { events.push_back("willDisappear"); }

    void viewDidDisappear(bool) override { events.push_back("didDisappear"); }

    std::vector<std::string> events;
};

class AlertControllerTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        window_ = std::make_shared<Window>(Rect{0, 0, 390, 844});
        screen_ = std::make_shared<Screen>();
        window_->setRootViewController(screen_);
        window_->makeKeyAndVisible();
        RunLoop::runUntilIdle();
    }

    void TearDown() override {
        Application::shared().reset();
        MainLoopFixture::TearDown();
    }

    std::shared_ptr<Window> window_;
    std::shared_ptr<Screen> screen_;
};

TEST_F(AlertControllerTest, StaysOverItsPresenterWithoutTakingItOffScreen) {
    auto alert = std::make_shared<AlertController>("recorder", "message");
    screen_->present(alert, true);
    RunLoop::advance(1);

    EXPECT_EQ(screen_->presentedViewController(), alert);
    EXPECT_TRUE(alert->isAppeared());
    EXPECT_TRUE(screen_->isAppeared());
    EXPECT_TRUE(screen_->events.empty());
}

TEST_F(AlertControllerTest, AnActionDismissesTheAlertThenRunsItsHandlerOnce) {
    auto alert = std::make_shared<AlertController>("recorder", "message");
    std::vector<std::string> order;
    alert->addAction({"OK", AlertAction::Style::Cancel, nullptr});
    alert->addAction({"Settings", AlertAction::Style::Default, [&](const AlertAction& a) {
                          order.push_back(a.title + " handler, still presented: "
                                          + (screen_->presentedViewController() ? "yes" : "no"));
                      }});
    EXPECT_FALSE(alert->triggerAction("Settings"));  // not presented yet
    screen_->present(alert, true);
    RunLoop::advance(1);

    EXPECT_FALSE(alert->triggerAction("Nope"));
    EXPECT_TRUE(alert->triggerAction("Settings"));
    EXPECT_FALSE(alert->triggerAction("Settings"));  // already going away
    EXPECT_TRUE(order.empty());
    RunLoop::advance(1);

    EXPECT_EQ(order, std::vector<std::string>{"Settings handler, still presented: no"});
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
    EXPECT_FALSE(alert->isAppeared());
}

}  // namespace
}  // namespace pelmar::ui
