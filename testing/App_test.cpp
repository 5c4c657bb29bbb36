#include "testing/App.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/app/UserNotificationCenter.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/UserDefaults.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar::test {
namespace {

using av::AuthorizationStatus;
using av::MediaType;

// A screen with one button in the middle whose action counts taps.
class ButtonScreen : public ui::ViewController {
public:
    void viewDidLoad() override {
        button = std::make_shared<ui::Button>(ui::Rect{100, 300, 100, 50});
        button->setTitle("Go");
        view()->addSubview(button);
        button->addTarget(ui::ControlEvent::TouchUpInside, [this] { ++taps; });
    }

    std::shared_ptr<ui::Button> button;
    int taps = 0;
};

TEST(AppTest, EachAppStartsFromTheSameFreshState) {
    std::filesystem::path firstSandbox;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        App app;
        EXPECT_EQ(app.clock().now(), 0.0);
        EXPECT_NE(app.sandboxRoot(), firstSandbox);
        EXPECT_EQ(ui::Application::shared().keyWindow(), app.window());
        EXPECT_TRUE(app.root()->isAppeared());
        EXPECT_EQ(ui::Screen::main().bounds(), (ui::Rect{0, 0, 390, 844}));
        EXPECT_TRUE(ui::Application::shared().openedURLs().empty());
        EXPECT_TRUE(av::CaptureDevice::devices(MediaType::Video).empty());
        EXPECT_EQ(av::CaptureDevice::authorizationStatus(MediaType::Video),
                  AuthorizationStatus::NotDetermined);
        EXPECT_EQ(app::AppLifecycle::state(), app::ApplicationState::Active);
        EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
        EXPECT_TRUE(app::UserNotificationCenter::current().pendingNotificationRequests().empty());
        EXPECT_EQ(foundation::UserDefaults::standard().object("left over"), std::nullopt);
        EXPECT_FALSE(app.logged("left over"));

        // Leave something behind in every shared instance.
        firstSandbox = app.sandboxRoot();
        app.advance(5);
        ui::Application::shared().open("left-over:");
        app.window()->rotate(ui::InterfaceOrientation::LandscapeLeft);
        app.devices().addBackCamera().addMicrophone();
        app.permissions().grant(MediaType::Video).deny(MediaType::Audio);
        app::AppLifecycle::setState(app::ApplicationState::Background);
        app::AppLifecycle::beginBackgroundTask("left over");
        app::NotificationRequest request;
        request.identifier = "left over";
        app::UserNotificationCenter::current().add(request);
        foundation::UserDefaults::standard().set("left over", true);
        app.sdk()->log("left over");
        EXPECT_TRUE(app.logged("left over"));
    }
}

TEST(AppTest, SettleRunsEveryQueueUntilIdleWithoutMovingTheClock) {
    App app;
    auto background = dispatch::Queue::serial("ping-pong");
    std::atomic<int> hops{0};
    bool delayedRan = false;
    // Work that bounces between a background queue and the main queue several times.
    std::function<void()> hop = [&] {
        if (++hops < 6) {
            dispatch::Queue::main()->async([&] { background->async(hop); });
        }
    };
    background->async(hop);
    dispatch::Queue::main()->asyncAfter(1.0, [&] { delayedRan = true; });
    ASSERT_TRUE(app.settle());
    EXPECT_EQ(hops.load(), 6);
    EXPECT_FALSE(delayedRan);
    EXPECT_EQ(app.clock().now(), 0.0);
    app.advance(1.0);
    EXPECT_TRUE(delayedRan);
}

TEST(AppTest, TapReachesOnlyWhatAUserCouldTouchAndFailsWithTheReason) {
    App app;
    auto screen = std::make_shared<ButtonScreen>();
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    app.root()->present(screen, false);
    app.settle();
    EXPECT_EQ(app.topViewController(), screen);
    EXPECT_TRUE(app.tap(screen->button));
    EXPECT_EQ(screen->taps, 1);

    screen->button->setHidden(true);
    EXPECT_NONFATAL_FAILURE(app.tap(screen->button), "is hidden");
    EXPECT_EQ(screen->taps, 1);
}

TEST(AppTest, FindsViewsAndScreensByTypeAndPredicate) {
    App app;
    auto screen = std::make_shared<ButtonScreen>();
    app.root()->present(screen, false);
    app.settle();
    EXPECT_EQ(app.find<ButtonScreen>(), screen);
    EXPECT_EQ(app.find<ui::Button>([](const ui::Button& b) { return b.title() == "Go"; }),
              screen->button);
    EXPECT_EQ(app.find<ui::Button>([](const ui::Button& b) { return b.title() == "Stop"; }),
              nullptr);
}

TEST(AppTest, TapAlertActionRunsTheHandlerOrNamesTheActionsItHas) {
    App app;
    auto alert = std::make_shared<ui::AlertController>("Title", "Message");
    bool handled = false;
    alert->addAction({"OK", ui::AlertAction::Style::Default,
                      [&](const ui::AlertAction&) { handled = true; }});
    EXPECT_NONFATAL_FAILURE(app.tapAlertAction("OK"), "no alert is shown");
    app.root()->present(alert, false);
    app.settle();
    EXPECT_NONFATAL_FAILURE(app.tapAlertAction("Cancel"), "(its actions: \"OK\")");
    // The tap is a finger's: a button a user cannot see takes none.
    ASSERT_EQ(alert->actionButtons().size(), 1u);
    alert->actionButtons()[0]->setHidden(true);
    EXPECT_NONFATAL_FAILURE(app.tapAlertAction("OK"), "is hidden");
    EXPECT_FALSE(handled);
    alert->actionButtons()[0]->setHidden(false);
    EXPECT_TRUE(app.tapAlertAction("OK"));
    app.advance(ui::TransitionContext::kStandardDuration);
    EXPECT_TRUE(handled);
    EXPECT_EQ(app.shownAlert(), nullptr);
}

TEST(AppTest, ExpectFreedAfterDismissPassesAClosedScreenAndCatchesACycle) {
    App app;
    auto clean = std::make_shared<ButtonScreen>();
    app.root()->present(clean, true);  // still animating in
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(clean)));
    EXPECT_EQ(app.topViewController(), app.root());

    auto leaky = std::make_shared<ButtonScreen>();
    app.root()->present(leaky, false);
    app.settle();
    // The screen's own button holds the screen: a cycle.
    leaky->button->addTarget(ui::ControlEvent::ValueChanged, [leaky] {});
    std::weak_ptr<ButtonScreen> weak = leaky;
    EXPECT_NONFATAL_FAILURE(app.expectFreedAfterDismiss(std::move(leaky)), "ButtonScreen");
    auto survivor = weak.lock();
    ASSERT_NE(survivor, nullptr);
    survivor->button->removeAllTargets();  // break the cycle so that the test leaks nothing
}

TEST(AppTest, ClosingEndsATransitionUnderWaySoThatEveryScreenIsFreed) {
    std::weak_ptr<ui::Window> window;
    std::weak_ptr<ButtonScreen> screen;
    {
        App app;
        auto shown = std::make_shared<ButtonScreen>();
        app.root()->present(shown, true);  // the clock never moves: still under way
        ASSERT_NE(app.root()->transitionInProgress(), nullptr);
        window = app.window();
        screen = shown;
    }
    EXPECT_TRUE(window.expired());
    EXPECT_TRUE(screen.expired());
}

TEST(AppTest, LookCheckNamesWhatAUserCannotSee) {
    App app;
    auto screen = app.root()->view();
    screen->layer()->setBackgroundColor(ui::Color::white());
    auto shown = std::make_shared<ui::Label>(ui::Rect{20, 100, 200, 30});
    shown->setText("Recording");
    // Black on black: there, but nobody can read it.
    auto unreadable = std::make_shared<ui::Label>(ui::Rect{20, 200, 200, 30});
    unreadable->setText("Paused");
    unreadable->layer()->setBackgroundColor(ui::Color::black());
    // A grey disc with a border and nothing on it.
    auto blank = std::make_shared<ui::Button>(ui::Rect{20, 300, 60, 60});
    blank->layer()->setBackgroundColor(ui::Color{0.8, 0.8, 0.8, 1});
    blank->layer()->setBorderWidth(2);
    blank->layer()->setCornerRadius(30);
    // Bare buttons laid as tap areas over grey discs, one disc holding an icon.
    const auto tapArea = [](ui::Rect frame, bool withIcon) {
        auto disc = std::make_shared<ui::View>(frame);
        disc->layer()->setBackgroundColor(ui::Color{0.8, 0.8, 0.8, 1});
        disc->layer()->setCornerRadius(frame.width / 2);
        if (withIcon) {
            auto icon = std::make_shared<ui::ImageView>(ui::Rect{20, 20, 20, 20});
            icon->setImage(ui::Image::fromBitmap(image::Bitmap::create(20, 20, {.opaque = true})));
            disc->addSubview(icon);
        }
        auto button = std::make_shared<ui::Button>(ui::Rect{0, 0, frame.width, frame.height});
        disc->addSubview(button);
        return std::pair{disc, button};
    };
    const auto [iconDisc, iconArea] = tapArea({100, 300, 60, 60}, true);
    const auto [emptyDisc, emptyArea] = tapArea({180, 300, 60, 60}, false);
    for (const auto& v :
         std::vector<std::shared_ptr<ui::View>>{shown, unreadable, blank, iconDisc, emptyDisc}) {
        screen->addSubview(v);
    }
    const auto faults = lookFaults(*app.window(), *screen, {.pictures = 1, .ignoring = {}});
    ASSERT_EQ(faults.drawing.size(), 3u);
    EXPECT_NE(faults.drawing[0].find("\"Paused\" shows no ink"), std::string::npos)
            << faults.drawing[0];
    EXPECT_NE(faults.drawing[1].find("draws only its background and border"), std::string::npos)
            << faults.drawing[1];
    EXPECT_NE(faults.drawing[2].find("Button {0, 0, 60, 60} (at 180, 300"), std::string::npos)
            << "the tap area over nothing, not the one over the icon: " << faults.drawing[2];
    ASSERT_EQ(faults.pictures.size(), 1u);
    EXPECT_NE(faults.pictures[0].find("0 live picture(s)"), std::string::npos);

    // Left out on purpose, the two pass.
    EXPECT_TRUE(app.expectLooksRight(*screen, 0, {unreadable.get(), blank.get(), emptyArea.get()}));
}

}  // namespace
}  // namespace pelmar::test
