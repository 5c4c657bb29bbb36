#include "pelmar/platform/ui/AlertController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/testing/Pixels.h"

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

TEST_F(AlertControllerTest, ShowsItsTextAndButtonsAndAFingerOnAButtonRunsItsAction) {
    // A control of the screen below, where the alert's dimming lies.
    auto below = std::make_shared<Button>();
    below->setFrame({0, 60, 390, 60});
    int belowTaps = 0;
    below->addTarget(ControlEvent::TouchUpInside, [&] { ++belowTaps; });
    screen_->view()->addSubview(below);

    const struct {
        const char* name;
        AlertController::Style style;
        std::vector<std::string> actions;
        std::string tapped;
    } cases[] = {
            {"an alert with one button", AlertController::Style::Alert, {"Ok"}, "Ok"},
            {"an alert with two",
             AlertController::Style::Alert,
             {"Cancel", "Settings"},
             "Settings"},
            {"an action sheet", AlertController::Style::ActionSheet, {"Save", "Delete"}, "Delete"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto alert = std::make_shared<AlertController>(
                "Whoops", "Looks like we ran into an issue loading the image, sorry about that!",
                c.style);
        std::vector<std::string> ran;
        for (const auto& title : c.actions) {
            alert->addAction({title, AlertAction::Style::Default,
                              [&ran](const AlertAction& a) { ran.push_back(a.title); }});
        }
        screen_->present(alert, true);
        RunLoop::advance(1);

        auto picture = render(*window_);
        ASSERT_TRUE(picture);
        ASSERT_TRUE(alert->panel());
        const Rect panel = alert->panel()->convertTo(alert->panel()->bounds(), window_.get());
        EXPECT_GE(panel.width, 200);
        EXPECT_TRUE(test::looksLike(test::colorAt(*picture, panel.x + 4, panel.y + 16),
                                    AlertController::kPanelColor));
        // The title and the message are ink on the panel, above the buttons.
        ASSERT_EQ(alert->actionButtons().size(), c.actions.size());
        const Rect first = alert->actionButtons()[0]->convertTo(alert->actionButtons()[0]->bounds(),
                                                                window_.get());
        EXPECT_GT(test::inkCount(*picture, {panel.x, panel.y, panel.width, first.y - panel.y},
                                 AlertController::kPanelColor),
                  200);
        for (const auto& b : alert->actionButtons()) {
            SCOPED_TRACE(b->title());
            const Rect at = b->convertTo(b->bounds(), window_.get());
            EXPECT_TRUE(panel.contains(at.center()));
            int blue = 0;
            for (double x = at.x; x < at.x + at.width; x += 1) {
                blue += test::looksLike(test::colorAt(*picture, x, at.center().y),
                                        AlertController::kActionColor, 0.15);
            }
            EXPECT_GT(blue, 2) << "its title shows in the action colour";
        }

        // The dimming takes a finger that misses the panel: nothing below hears it.
        EXPECT_EQ(tap(*window_, {195, 90}), std::nullopt);
        RunLoop::advance(1);
        EXPECT_EQ(belowTaps, 0);
        EXPECT_EQ(screen_->presentedViewController(), alert);

        std::shared_ptr<Button> target;
        for (const auto& b : alert->actionButtons()) {
            if (b->title() == c.tapped) {
                target = b;
            }
        }
        ASSERT_TRUE(target);
        EXPECT_EQ(tap(*target), std::nullopt);
        RunLoop::advance(1);
        EXPECT_EQ(ran, std::vector<std::string>{c.tapped});
        EXPECT_EQ(screen_->presentedViewController(), nullptr);
    }
}

// Error texts carry URLs and paths: a message far taller than the screen keeps every button
// within the safe area, where a finger taps it, and the text scrolls in its own area.
TEST_F(AlertControllerTest, ALongMessageKeepsEveryButtonWhereAFingerReachesIt) {
    window_->setSafeAreaInsets(EdgeInsets{47, 0, 34, 0});
    std::string message;
    while (message.size() < 2000) {
        message += "/var/mobile/Containers/Data/Application/Documents/output/clip.mp4 ";
    }
    message.resize(2000);
    const Rect safe = EdgeInsets{47, 0, 34, 0}.inset(window_->bounds());

    const struct {
        const char* name;
        AlertController::Style style;
        std::vector<std::string> actions;
    } cases[] = {
            {"an alert with one button", AlertController::Style::Alert, {"OK"}},
            {"an alert with two", AlertController::Style::Alert, {"Cancel", "Retry"}},
            {"an alert with three", AlertController::Style::Alert, {"Cancel", "Retry", "Report"}},
            {"an action sheet", AlertController::Style::ActionSheet, {"Save", "Delete"}},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& tapped : c.actions) {
            SCOPED_TRACE(tapped);
            auto alert = std::make_shared<AlertController>("Whoops", message, c.style);
            std::vector<std::string> ran;
            for (const auto& title : c.actions) {
                alert->addAction({title, AlertAction::Style::Default,
                                  [&ran](const AlertAction& a) { ran.push_back(a.title); }});
            }
            screen_->present(alert, true);
            RunLoop::advance(1);

            ASSERT_TRUE(alert->panel());
            const Rect panel = alert->panel()->convertTo(alert->panel()->bounds(), window_.get());
            EXPECT_GE(panel.y, safe.y);
            EXPECT_LE(panel.y + panel.height, safe.y + safe.height);
            // The text does not fit: it scrolls within the panel.
            ASSERT_TRUE(alert->textArea());
            EXPECT_GT(alert->textArea()->contentSize().height, alert->textArea()->bounds().height);
            EXPECT_GT(alert->textArea()->bounds().height, 0);

            std::shared_ptr<Button> target;
            for (const auto& b : alert->actionButtons()) {
                if (b->title() == tapped) {
                    target = b;
                }
            }
            ASSERT_TRUE(target);
            const Rect at = target->convertTo(target->bounds(), window_.get());
            EXPECT_TRUE(safe.contains(at.center()));
            EXPECT_EQ(tap(*window_, at.center()), std::nullopt);
            RunLoop::advance(1);
            EXPECT_EQ(ran, std::vector<std::string>{tapped});
            EXPECT_EQ(screen_->presentedViewController(), nullptr);
        }
    }
}

}  // namespace
}  // namespace pelmar::ui
