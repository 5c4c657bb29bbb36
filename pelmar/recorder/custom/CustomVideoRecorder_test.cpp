#include "pelmar/recorder/custom/CustomVideoRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/internal/RecorderText.h"
#include "pelmar/recorder/testing/CustomRecorderApp.h"
#include "pelmar/recorder/testing/PermissionCases.h"
#include "pelmar/recorder/testing/RuntimeErrorCases.h"
#include "pelmar/recorder/testing/TemporaryFiles.h"

namespace pelmar {
namespace {

using av::AuthorizationStatus;
using av::MediaType;
using dispatch::RunLoop;

using test::temporaryFiles;

// A manual-fed recorder, ready, with one recording started.
void readyAndRecording(test::CustomRecorderApp& app) {
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    app.startRecording();
}

TEST(CustomVideoRecorderTest, CreateMakesTheRecordingPreviewWithTheSameFacade) {
    test::CustomRecorderApp app;
    auto recorder = app.makeRecorder();
    ASSERT_NE(recorder->videoPreview, nullptr);
    EXPECT_TRUE(recorder->videoPreview->isRecordingPreview);
    EXPECT_EQ(recorder->videoPreview->previewDelegate(), recorder);
    EXPECT_EQ(recorder->videoPreview->pelmar(), app.sdk());
    EXPECT_EQ(recorder->pelmar(), app.sdk());
    EXPECT_EQ(recorder->sessionQueue()->label(), "session queue");
    EXPECT_TRUE(recorder->recordedVideoPreviewEnabled);
    EXPECT_TRUE(recorder->isControllerEnable);
    EXPECT_EQ(recorder->maxRecordedDurationSeconds(), 0);
    EXPECT_EQ(recorder->getRecordedFile(), "");
    EXPECT_EQ(recorder->supportedInterfaceOrientations(), 30);
}

TEST(CustomVideoRecorderTest, StartsOnlyWithBothPermissionsAndAlertsTheLaterRefusal) {
    for (const auto& c : test::permissionCases()) {
        SCOPED_TRACE(c.name);
        test::CustomRecorderApp app;
        app.devices().addBackCamera().addFrontCamera().addMicrophone();
        app.devices()
                .setAuthorizationStatus(MediaType::Video, c.camera)
                .setAuthorizationStatus(MediaType::Audio, c.microphone)
                .setRequestAnswer(MediaType::Video, c.cameraAnswer)
                .setRequestAnswer(MediaType::Audio, c.microphoneAnswer)
                .setAnswerDelay(1.0);
        app.present();
        if (c.camera == AuthorizationStatus::NotDetermined
            || c.microphone == AuthorizationStatus::NotDetermined) {
            // The configuration waits, on the suspended session queue, for every answer.
            EXPECT_TRUE(app.recorder->sessionQueue()->isSuspended());
            EXPECT_TRUE(app.recorder->session()->inputs().empty());
            app.advance(1.0);
            ASSERT_TRUE(app.runUntil([&] { return !app.recorder->sessionQueue()->isSuspended(); }));
            app.drainSessionQueue();
            RunLoop::runUntilIdle();
        }
        EXPECT_EQ(app.recorder->setupResult(), c.result);
        EXPECT_EQ(app.recorder->session()->isRunning(), c.result == AVCamSetupResult::success);
        EXPECT_EQ(app.recorder->recordButton.lock()->isEnabled(),
                  c.result == AVCamSetupResult::success);
        auto alert = app.shownAlert();
        if (!c.alert) {
            EXPECT_EQ(alert, nullptr);
            continue;
        }
        ASSERT_NE(alert, nullptr);
        // The recorder shows the alert itself.
        EXPECT_EQ(alert->presentingViewController(), app.recorder);
        EXPECT_EQ(alert->title(), "recorder");
        EXPECT_EQ(alert->message(), c.alert);
        ASSERT_EQ(alert->actions().size(), 2U);
        EXPECT_EQ(alert->actions()[0].title, "OK");
        EXPECT_EQ(alert->actions()[0].style, ui::AlertAction::Style::Cancel);
        EXPECT_TRUE(app.tapAlertAction("Settings"));
        app.advance(2 * ui::TransitionContext::kStandardDuration);
        EXPECT_EQ(ui::Application::shared().openedURLs(),
                  std::vector<std::string>{"app-settings:"});
    }
}

TEST(CustomVideoRecorderTest, EachConfigurationFailureShowsUnableToCaptureMediaAndClosesTheSet) {
    struct Case {
        const char* name;
        std::function<void(av::CaptureEnvironment&)> devices;
    };

    const Case cases[] = {
            {"no camera", [](auto& e) { e.addMicrophone(); }},
            {"no microphone", [](auto& e) { e.addBackCamera(); }},
            {"camera input fails",
             [](auto& e) { e.addBackCamera().addMicrophone().failDeviceInput(MediaType::Video); }},
            {"camera input refused",
             [](auto& e) { e.addBackCamera().addMicrophone().refuseInput(MediaType::Video); }},
            {"microphone input refused",
             [](auto& e) { e.addBackCamera().addMicrophone().refuseInput(MediaType::Audio); }},
            {"movie file output refused",
             [](auto& e) {
                 e.addBackCamera().addMicrophone().refuseOutput(av::CaptureOutputKind::MovieFile);
             }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CustomRecorderApp app;
        c.devices(app.devices());
        app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
        app.present();
        RunLoop::runUntilIdle();
        EXPECT_EQ(app.recorder->setupResult(), AVCamSetupResult::sessionConfigurationFailed);
        // A configuration that failed half-way was still committed.
        EXPECT_EQ(app.recorder->session()->configurationDepth(), 0);
        EXPECT_FALSE(app.recorder->session()->isRunning());
        EXPECT_FALSE(app.recorder->recordButton.lock()->isEnabled());
        auto alert = app.shownAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->message(), "Unable to capture media");
        ASSERT_EQ(alert->actions().size(), 1U);
        EXPECT_EQ(alert->actions()[0].title, "OK");
    }
}

TEST(CustomVideoRecorderTest, ADisabledControllerHidesTheControlsOnEveryAppearance) {
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "controller enabled" : "controller disabled");
        test::CustomRecorderApp app;
        app.standardDevices();
        app.makeRecorder()->isControllerEnable = enabled;
        app.presentAndWaitUntilReady();
        auto controls = app.recorder->controlView.lock();
        EXPECT_EQ(controls->isHidden(), !enabled);
        EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), "00:00");
        // Shown again by someone, covered by another screen and uncovered: hidden again.
        controls->setHidden(false);
        auto cover = std::make_shared<ui::ViewController>();
        cover->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app.recorder->present(cover, false);
        app.settle();
        cover->dismiss(false);
        app.settle();
        app.drainSessionQueue();
        app.settle();
        EXPECT_EQ(controls->isHidden(), !enabled);
        EXPECT_TRUE(app.recorder->isSessionRunning());
    }
}

TEST(CustomVideoRecorderTest, AMediaServicesResetRestartsOnlyASessionThatWasRunning) {
    for (const auto& c : test::runtimeErrorCases()) {
        SCOPED_TRACE(c.name);
        test::CustomRecorderApp app;
        app.standardDevices();
        app.devices().failStartRunning(c.startFails);
        app.present();
        EXPECT_EQ(app.recorder->isSessionRunning(), !c.startFails);
        app.devices().failStartRunning(false);
        app.recorder->session()->simulateRuntimeError(c.code, "boom");
        app.drainSessionQueue();
        RunLoop::runUntilIdle();
        EXPECT_EQ(app.recorder->session()->isRunning(), c.runningAfter);
        EXPECT_EQ(app.recorder->recordButton.lock()->isEnabled(), c.runningAfter);
    }
}

TEST(CustomVideoRecorderTest, AnInterruptionHidesThePreviewUntilItEnds) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.presentAndWaitUntilReady();
    app.advance(0.5);
    auto layer = app.recorder->previewView.lock()->layer();
    EXPECT_EQ(layer->opacity(), 1);
    app.recorder->session()->simulateInterruption(
            av::CaptureSession::InterruptionReason::VideoDeviceNotAvailableInBackground);
    app.settle();
    EXPECT_EQ(layer->opacity(), 0);
    app.recorder->session()->simulateInterruptionEnded();
    app.settle();
    app.advance(0.5);
    EXPECT_EQ(layer->opacity(), 1);
}

TEST(CustomVideoRecorderTest, RotatingTurnsPreviewAndRecordingButAFlatDeviceChangesNothing) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    auto preview = app.recorder->previewView.lock()->videoPreviewLayer()->connection();
    ASSERT_NE(preview, nullptr);
    app.window()->rotate(ui::InterfaceOrientation::LandscapeLeft);
    app.drainSessionQueue();
    app.settle();
    EXPECT_EQ(preview->videoOrientation(), av::VideoOrientation::LandscapeLeft);
    EXPECT_EQ(app.videoOutput()->connection(MediaType::Video)->videoOrientation(),
              av::VideoOrientation::LandscapeLeft);
    EXPECT_EQ(app.recorder->videoWidth(), 1920);
    EXPECT_EQ(app.recorder->videoHeight(), 1080);
    for (auto device : {ui::DeviceOrientation::FaceUp, ui::DeviceOrientation::FaceDown}) {
        SCOPED_TRACE(static_cast<int>(device));
        ui::Application::shared().setDeviceOrientation(device);
        app.recorder->viewWillTransition(app.window()->bounds().size());
        app.drainSessionQueue();
        EXPECT_EQ(preview->videoOrientation(), av::VideoOrientation::LandscapeLeft);
        EXPECT_EQ(app.recorder->videoWidth(), 1920);
    }
}

TEST(CustomVideoRecorderTest, HostCallsThatMakeNoSenseDoNothing) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();

    // A stop with no recording leaves the screen as it was.
    app.recorder->stopRecording();
    app.drainSessionQueue();
    app.settle();
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());
    EXPECT_EQ(app.recorder->getRecordedFile(), "");

    // A second start while recording keeps the first recording, and only its background task.
    app.startRecording();
    app.recorder->startRecording();
    app.drainSessionQueue();
    app.settle();
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    app.feedFrame(0, 1.0);
    app.feedFrame(1, 2.0);
    EXPECT_NEAR(app.recorder->duration(), 1.0, 1e-9);
    EXPECT_EQ(temporaryFiles().size(), 1U);
}

TEST(CustomVideoRecorderTest, ACameraSwitchWithoutACameraInputChangesNothing) {
    test::CustomRecorderApp app;
    app.devices().addBackCamera().addFrontCamera().addMicrophone().failDeviceInput(
            MediaType::Video);
    app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
    app.present();
    ASSERT_EQ(app.recorder->setupResult(), AVCamSetupResult::sessionConfigurationFailed);
    // Even with its button forced on, the switch finds no camera to replace.
    app.recorder->cameraButton.lock()->setEnabled(true);
    app.recorder->changeCamera();
    app.drainSessionQueue();
    app.settle();
    EXPECT_TRUE(app.recorder->session()->inputs().empty());
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());
}

TEST(CustomVideoRecorderTest, AStopBeforeTheFirstFrameLeavesNoFileAndNoTask) {
    test::CustomRecorderApp app;
    readyAndRecording(app);
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isSelected());
    app.recorder->stopRecording();
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->isRecording(); }));
    app.drainSessionQueue();
    app.settle();
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_EQ(app.recorder->getRecordedFile(), "");
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(CustomVideoRecorderTest, AWriterThatCannotBeMadeReturnsToIdle) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    // A file where the temporary folder should be: no movie can be made there.
    const auto tmp = foundation::Sandbox::temporaryDirectory();
    std::filesystem::remove_all(tmp);
    std::ofstream(tmp) << "not a folder";
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    app.drainSessionQueue();
    app.settle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
    // The next tap tries again rather than stopping a recording that never began.
    std::filesystem::remove(tmp);
    std::filesystem::create_directories(tmp);
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->isRecording(); }));
    app.drainSessionQueue();
    app.settle();
}

TEST(CustomVideoRecorderTest, TwoRecordTapsInOneTurnStartOnlyOnce) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    app.recorder->toggleMovieRecording();
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->isRecording(); }));
    app.drainSessionQueue();
    app.settle();
    EXPECT_TRUE(app.recorder->isRecording());
    EXPECT_TRUE(app.recorder->recordButton.lock()->isSelected());
    EXPECT_TRUE(app.recorder->shouldAutorotate());
    // The frame starts the writer: the screen no longer turns.
    app.feedFrame(0, 0.0);
    EXPECT_FALSE(app.recorder->shouldAutorotate());
    EXPECT_EQ(temporaryFiles().size(), 1U);
}

TEST(CustomVideoRecorderTest, ClosingTheScreenDiscardsARecordingUnderWay) {
    test::CustomRecorderApp app;
    readyAndRecording(app);
    app.feedFrame(0, 0.0);
    ASSERT_TRUE(app.tap(app.recorder->closeButton));
    app.drainSessionQueue();
    app.advance(2 * ui::TransitionContext::kStandardDuration);  // the presentation ends first
    app.settle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::exchange(app.recorder, nullptr)));
}

TEST(CustomVideoRecorderTest, ARefusedCameraSwitchKeepsTheOldCamera) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    auto front =
            av::CaptureDevice::defaultDevice(av::CaptureDeviceType::BuiltInWideAngleCamera,
                                             MediaType::Video, av::CaptureDevicePosition::Front);
    ASSERT_NE(front, nullptr);
    app.devices().refuseDevice(front->uniqueID());
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    app.drainSessionQueue();
    app.settle();
    EXPECT_EQ(app.recorder->session()->videoDevice()->position(), av::CaptureDevicePosition::Back);
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());
    app.devices().refuseDevice(front->uniqueID(), false);
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    app.drainSessionQueue();
    app.settle();
    EXPECT_EQ(app.recorder->session()->videoDevice()->position(), av::CaptureDevicePosition::Front);
    EXPECT_TRUE(app.videoOutput()->connection(MediaType::Video)->isVideoMirrored());
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
}

TEST(CustomVideoRecorderTest, TheDurationLabelCountsUpOrDownWithTheBias) {
    struct Case {
        double elapsed;
        double limit;
        const char* text;
    };

    const Case cases[] = {
            {0, 0, "00:00"},    {3.6, 0, "00:04"}, {3.5, 0, "00:03"},
            {61, 0, "01:01"},   {0, 60, "01:00"},  {0.3, 60, "01:00"},
            {0.5, 60, "00:59"}, {75, 60, "00:00"}, {2, -5, "00:02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.elapsed) + " of " + std::to_string(c.limit));
        EXPECT_EQ(recorder::internal::durationLabelText(c.elapsed, c.limit), c.text);
    }

    // On the screen: the display timer ticks every second while a recording runs.
    test::CustomRecorderApp app;
    readyAndRecording(app);
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 3.6);
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), "00:04");
}

}  // namespace
}  // namespace pelmar
