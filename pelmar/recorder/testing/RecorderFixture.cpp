#include "pelmar/recorder/testing/RecorderFixture.h"

#include <atomic>
#include <cmath>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar::test {

using dispatch::RunLoop;

bool RecorderEvents::has(const std::string& event) const {
    std::lock_guard lock(mutex_);
    for (const auto& e : events_) {
        if (e == event) {
            return true;
        }
    }
    return false;
}

void RecorderFixture::SetUp() {
    MainLoopFixture::SetUp();
    env().reset();
    av::AssetWriter::failWritersAfterAppends(0);
    app::AppLifecycle::reset();
    ui::Application::shared().reset();
    ui::Screen::main().reset();
    window_ = std::make_shared<ui::Window>(ui::Rect{0, 0, 390, 844});
    root_ = std::make_shared<ui::ViewController>();
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
    RunLoop::runUntilIdle();
    pelmar_ = std::make_shared<Pelmar>();
    pelmar_->enableDebugLogs = true;
    events_ = std::make_shared<RecorderEvents>();
    pelmar_->setRecorderDelegate(events_);
    pelmar_->setSensorDelegate(events_);
}

void RecorderFixture::TearDown() {
    if (recorder_) {
        if (auto session = recorder_->session()) {
            session->stopRunning();
        }
        drainSessionQueue();
        RunLoop::runUntilIdle();
    }
    root_.reset();
    window_.reset();
    ui::Application::shared().reset();
    ui::Screen::main().reset();
    recorder_.reset();
    RunLoop::runUntilIdle();
    env().reset();
    av::AssetWriter::failWritersAfterAppends(0);
    app::AppLifecycle::reset();
    MainLoopFixture::TearDown();
}

void RecorderFixture::standardDevices() {
    env().addBackCamera().addFrontCamera().addMicrophone();
    env().setAuthorizationStatus(av::MediaType::Video, av::AuthorizationStatus::Authorized);
    env().setAuthorizationStatus(av::MediaType::Audio, av::AuthorizationStatus::Authorized);
}

std::shared_ptr<PelmarRecorder> RecorderFixture::makeRecorder() {
    recorder_ = PelmarRecorder::create(pelmar_);
    recorder_->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    return recorder_;
}

void RecorderFixture::present() {
    if (!recorder_) {
        makeRecorder();
    }
    root_->present(recorder_, true);
    RunLoop::runUntilIdle();
    if (!recorder_->sessionQueue()->isSuspended()) {
        drainSessionQueue();
    }
    RunLoop::runUntilIdle();
}

void RecorderFixture::drainSessionQueue() {
    // Twice: samples are handled one turn after their delivery.
    for (int i = 0; i < 2; ++i) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        recorder_->sessionQueue()->async([done] { done->store(true); });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done->load(); }, 30));
    }
}

void RecorderFixture::presentAndWaitUntilReady() {
    present();
    ASSERT_TRUE(RunLoop::runUntil([&] {
        auto record = recorder_->recordButton.lock();
        return record && record->isEnabled();
    }));
}

void RecorderFixture::startRecording() {
    recorder_->recordButton.lock()->tap();
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->isRecording(); }, 30));
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

void RecorderFixture::stopRecordingAndWait() {
    recorder_->recordButton.lock()->tap();
    ASSERT_TRUE(RunLoop::runUntil([&] { return events_->has("stopped"); }, 60));
    RunLoop::runUntilIdle();
}

void RecorderFixture::advanceCapture(double seconds) {
    constexpr double kStep = 1.0 / 30;
    const double fps = env().frameRate();
    const double rate = env().microphoneSampleRate();
    const int steps = static_cast<int>(std::llround(seconds / kStep));
    for (int i = 0; i < steps; ++i) {
        RunLoop::advance(kStep);
        captured_ = clock().now();  // the devices started with the clock at 0
        recorder_->session()->pumpDevices();
        // Camera frame k is made at k / fps; microphone buffers once their 1024 frames are in.
        const auto frames = static_cast<int64_t>(std::floor(captured_ * fps + 1e-6)) + 1;
        const auto buffers = static_cast<int64_t>(std::floor(captured_ * rate / 1024 + 1e-6));
        ASSERT_TRUE(RunLoop::runUntil(
                [&] {
                    // Encoding takes no clock time: the writers finish before it moves.
                    return recorder_->handledVideoSamples() >= frames
                           && recorder_->handledAudioSamples() >= buffers
                           && av::AssetWriter::pendingWorkInAllWriters() == 0
                           && (!settled_ || settled_());
                },
                30))
                << "at " << captured_ << " s";
    }
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

std::shared_ptr<ui::AlertController> RecorderFixture::shownAlert() {
    std::shared_ptr<ui::ViewController> top = root_;
    while (top && top->presentedViewController()) {
        top = top->presentedViewController();
    }
    return std::dynamic_pointer_cast<ui::AlertController>(top);
}

int RecorderFixture::loggedCount(const std::string& line) const {
    int n = 0;
    for (const auto& l : logs_.lines()) {
        n += l == line ? 1 : 0;
    }
    return n;
}

}  // namespace pelmar::test
