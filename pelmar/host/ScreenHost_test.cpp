#include "pelmar/host/ScreenHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
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

}  // namespace
}  // namespace pelmar
