#include "pelmar/host/ScreenHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

// A full-screen screen with one red button whose action counts taps.
class RedButtonScreen : public ui::ViewController {
public:
    RedButtonScreen() { setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen); }

    void viewDidLoad() override {
        button = std::make_shared<ui::Button>(ui::Rect{100, 300, 100, 50});
        button->layer()->setBackgroundColor(ui::Color{1, 0, 0, 1});
        view()->addSubview(button);
        button->addTarget(ui::ControlEvent::TouchUpInside, [this] { ++taps; });
    }

    std::shared_ptr<ui::Button> button;
    int taps = 0;
};

// A bar that, like a progress bar, takes its look on its first display: that draw resets its
// value to 0. It paints the played part red.
class FirstDisplayBar : public ui::View {
public:
    using ui::View::View;

    void draw(ui::GraphicsContext& context) override {
        if (!displayed_) {
            displayed_ = true;
            value = 0;
        }
        context.setFillColor(ui::Color{1, 0, 0, 1});
        context.fillRect({0, 0, bounds().width * value, bounds().height});
    }

    double value = 0;

private:
    bool displayed_ = false;
};

// A full-screen screen whose bar follows the clock, as a player's position does: a quarter of
// the bar per second, moved four times a second.
class ClockBarScreen : public ui::ViewController {
public:
    ClockBarScreen() { setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen); }

    ~ClockBarScreen() override {
        if (timer_) {
            timer_->invalidate();
        }
    }

    void viewDidLoad() override {
        bar = std::make_shared<FirstDisplayBar>(ui::Rect{0, 400, 390, 20});
        view()->addSubview(bar);
        timer_ = dispatch::Timer::scheduled(0.25, true, [bar = bar] {
            bar->value = std::min(1.0, dispatch::clock().now() / 4);
        });
    }

    std::shared_ptr<FirstDisplayBar> bar;

private:
    std::shared_ptr<dispatch::Timer> timer_;
};

bool isRed(const image::Bitmap& picture, int x, int y) {
    const uint8_t* pixel = picture.data() + y * picture.stride() + x * 4;  // BGRA
    return pixel[2] == 255 && pixel[1] == 0 && pixel[0] == 0;
}

using ScreenHostTest = dispatch::test::MainLoopFixture;

TEST_F(ScreenHostTest, OpensAKeyWindowWithARootThatHasAppearedAndFreesItsScreensWhenClosed) {
    std::weak_ptr<ui::Window> window;
    std::weak_ptr<ui::ViewController> shown;
    {
        ScreenHost host;
        window = host.window();
        EXPECT_EQ(ui::Application::shared().keyWindow(), host.window());
        EXPECT_TRUE(host.root()->isAppeared());
        EXPECT_THROW(ScreenHost{}, std::logic_error);

        auto screen = std::make_shared<RedButtonScreen>();
        shown = screen;
        host.present(screen);
        // Closing while the animated presentation is still under way frees everything too.
    }
    EXPECT_TRUE(window.expired());
    EXPECT_TRUE(shown.expired());
    EXPECT_EQ(ui::Application::shared().keyWindow(), nullptr);
    ScreenHost again;  // one at a time, not one per process
}

TEST_F(ScreenHostTest, TapsAtAPointAndPaintsTheWindowAsItShows) {
    ScreenHost host;
    auto screen = std::make_shared<RedButtonScreen>();
    host.present(screen);
    host.runFor(ui::TransitionContext::kStandardDuration);
    ASSERT_TRUE(host.settle());
    ASSERT_EQ(host.topViewController(), screen);

    EXPECT_EQ(host.tap({150, 325}), std::nullopt);
    EXPECT_EQ(host.tap(*screen->button), std::nullopt);
    EXPECT_EQ(screen->taps, 2);
    screen->button->setEnabled(false);
    EXPECT_NE(host.tap(*screen->button), std::nullopt);

    auto picture = host.render(2);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width(), 780);
    EXPECT_EQ(picture->height(), 1688);
    const uint8_t* red = picture->data() + 650 * picture->stride() + 300 * 4;  // BGRA
    EXPECT_EQ(red[2], 255);
    EXPECT_EQ(red[1], 0);

    test::TempDir folder;
    EXPECT_EQ(host.snapshot(folder.path() / "window.png"), std::nullopt);
    EXPECT_TRUE(std::filesystem::file_size(folder.path() / "window.png") > 0);
    EXPECT_NE(host.snapshot(folder.path() / "missing" / "window.png"), std::nullopt);
}

TEST_F(ScreenHostTest, AnswersPermissionRequestsAfterTheirDelayOnTheClock) {
    ScreenHost host;
    host.devices().addBackCamera();
    host.permissions().ask(av::MediaType::Video, true).answerAfter(2);
    // The answer comes on a background thread: 0 not yet, 1 denied, 2 granted.
    std::atomic<int> answer{0};
    av::CaptureDevice::requestAccess(av::MediaType::Video,
                                     [&](bool granted) { answer.store(granted ? 2 : 1); });
    host.runFor(1);
    EXPECT_TRUE(host.settle());
    EXPECT_EQ(answer.load(), 0);
    host.runFor(1);
    EXPECT_TRUE(host.runUntil([&] { return answer.load() != 0; }));
    EXPECT_EQ(answer.load(), 2);
    EXPECT_EQ(av::CaptureDevice::devices(av::MediaType::Video).size(), 1u);
    host.devices().reset();
}

// The photo library's answers are set where the camera's are: a status now, or the answer a
// first request gets.
TEST_F(ScreenHostTest, AnswersThePhotoLibrarysRequestsToo) {
    using photos::AuthorizationStatus;
    using photos::PhotoLibrary;
    test::TempDir folder;
    PhotoLibrary::shared().reset(folder.path());
    ScreenHost host;
    host.permissions().photoLibrary(AuthorizationStatus::Denied);
    EXPECT_EQ(PhotoLibrary::authorizationStatus(), AuthorizationStatus::Denied);

    host.permissions().askPhotoLibrary(AuthorizationStatus::Limited);
    EXPECT_EQ(PhotoLibrary::authorizationStatus(), AuthorizationStatus::NotDetermined);
    std::atomic<int> answer{-1};
    PhotoLibrary::requestAuthorization(
            [&](AuthorizationStatus status) { answer.store(static_cast<int>(status)); });
    EXPECT_TRUE(host.runUntil([&] { return answer.load() >= 0; }));
    EXPECT_EQ(answer.load(), static_cast<int>(AuthorizationStatus::Limited));
    EXPECT_EQ(PhotoLibrary::shared().authorizationRequestCount(), 1);
    PhotoLibrary::shared().reset();
}

TEST_F(ScreenHostTest, AHostThatCannotOpenKeepsNothingAndALaterOneOpens) {
    dispatch::RunLoop::runUntilIdle();  // this thread runs the main loop
    {
        SCOPED_TRACE("made on another thread");
        std::string refusal;
        std::thread other([&] {
            try {
                ScreenHost host;
            } catch (const std::logic_error& e) {
                refusal = e.what();
            }
        });
        other.join();
        EXPECT_THAT(refusal, ::testing::HasSubstr("other than the main thread"));
    }
    {
        SCOPED_TRACE("a main-queue block throws while the window opens");
        dispatch::Queue::main()->async([] { throw std::runtime_error("stale block"); });
        EXPECT_THROW(ScreenHost{}, std::runtime_error);
        EXPECT_EQ(ui::Application::shared().keyWindow(), nullptr);
    }
    ScreenHost host;
    EXPECT_TRUE(host.root()->isAppeared());
}

TEST_F(ScreenHostTest, ClosingReportsABlockThatThrowsAndStillFreesEveryScreen) {
    foundation::Log::Capture log;
    std::weak_ptr<ui::ViewController> shown;
    bool laterBlockRan = false;
    {
        ScreenHost host;
        auto screen = std::make_shared<RedButtonScreen>();
        shown = screen;
        host.present(screen);
        dispatch::Queue::main()->async([] { throw std::runtime_error("block failed"); });
        dispatch::Queue::main()->async([&] { laterBlockRan = true; });
    }
    EXPECT_TRUE(shown.expired());
    EXPECT_EQ(ui::Application::shared().keyWindow(), nullptr);
    EXPECT_TRUE(laterBlockRan);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], ::testing::HasSubstr("block failed"));
    ScreenHost again;
}

TEST_F(ScreenHostTest, DisplaysAScreenWhenItAppearsSoItsFirstLookDoesNotHideLaterState) {
    ScreenHost host;
    auto screen = std::make_shared<ClockBarScreen>();
    host.present(screen);
    host.runFor(2);  // the bar moves to half its length; nothing has painted the window yet
    ASSERT_TRUE(screen->isAppeared());

    auto picture = host.render();
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(isRed(*picture, 90, 410));    // played
    EXPECT_FALSE(isRed(*picture, 290, 410));  // not yet
}

}  // namespace
}  // namespace pelmar
