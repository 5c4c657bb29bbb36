#include "pelmar/recorder/PelmarRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/testing/PermissionCases.h"
#include "pelmar/recorder/testing/RecorderApp.h"
#include "pelmar/recorder/testing/RuntimeErrorCases.h"

namespace pelmar {
namespace {

using av::AuthorizationStatus;
using av::CaptureDevice;
using av::MediaType;
using dispatch::RunLoop;

// Files left in the temporary folder.
std::vector<std::filesystem::path> temporaryFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(foundation::Sandbox::temporaryDirectory(), ec)) {
        files.push_back(entry.path());
    }
    return files;
}

TEST(PelmarRecorderTest, StartsOnlyWithBothPermissionsAndAlertsTheLaterRefusal) {
    for (const auto& c : test::permissionCases()) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.devices().addBackCamera().addFrontCamera().addMicrophone();
        app.devices()
                .setAuthorizationStatus(MediaType::Video, c.camera)
                .setAuthorizationStatus(MediaType::Audio, c.microphone)
                .setRequestAnswer(MediaType::Video, c.cameraAnswer)
                .setRequestAnswer(MediaType::Audio, c.microphoneAnswer)
                .setAnswerDelay(1.0);
        app.makeRecorder();
        app.present();
        const bool asked = c.camera == AuthorizationStatus::NotDetermined
                           || c.microphone == AuthorizationStatus::NotDetermined;
        if (asked) {
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
        EXPECT_EQ(app.events->events().front(), "ready");
        auto alert = app.shownAlert();
        if (!c.alert) {
            EXPECT_EQ(alert, nullptr);
        } else {
            ASSERT_NE(alert, nullptr);
            EXPECT_EQ(alert->title(), "recorder");
            EXPECT_EQ(alert->message(), c.alert);
            ASSERT_EQ(alert->actions().size(), 2U);
            EXPECT_EQ(alert->actions()[0].title, "OK");
            EXPECT_EQ(alert->actions()[0].style, ui::AlertAction::Style::Cancel);
            // The alert covers the screen: its close button takes no tap until it is gone.
            const auto covered = ui::tap(*app.recorder->closeButton.lock());
            ASSERT_TRUE(covered.has_value());
            EXPECT_NE(covered->find("is not in the topmost screen"), std::string::npos) << *covered;
            EXPECT_TRUE(app.tapAlertAction("Settings"));
            app.advance(2 * ui::TransitionContext::kStandardDuration);
            EXPECT_EQ(ui::Application::shared().openedURLs(),
                      std::vector<std::string>{"app-settings:"});
        }
    }
}

TEST(PelmarRecorderTest, TwoRefusalsAlertTheMicrophoneWhicheverAnswerComesLast) {
    for (const bool cameraLast : {true, false}) {
        SCOPED_TRACE(cameraLast ? "camera answers last" : "microphone answers last");
        test::RecorderApp app;
        app.standardDevices();
        app.devices()
                .setAuthorizationStatus(MediaType::Video, AuthorizationStatus::NotDetermined)
                .setAuthorizationStatus(MediaType::Audio, AuthorizationStatus::NotDetermined)
                .setRequestAnswer(MediaType::Video, false)
                .setRequestAnswer(MediaType::Audio, false)
                .setAnswerDelay(MediaType::Video, cameraLast ? 2.0 : 1.0)
                .setAnswerDelay(MediaType::Audio, cameraLast ? 1.0 : 2.0);
        app.makeRecorder();
        app.present();
        app.advance(1.0);
        // The first refusal is in before the second answer comes.
        ASSERT_TRUE(app.runUntil(
                [&] { return app.recorder->setupResult() != AVCamSetupResult::success; }));
        app.advance(1.0);
        ASSERT_TRUE(app.runUntil([&] { return !app.recorder->sessionQueue()->isSuspended(); }));
        app.drainSessionQueue();
        RunLoop::runUntilIdle();
        EXPECT_EQ(app.recorder->setupResult(), AVCamSetupResult::micNotAuthorized);
        auto alert = app.shownAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->message(), test::kMicrophoneDeniedText);
    }
}

TEST(PelmarRecorderTest, EachConfigurationFailureLogsItsMessageAndShowsUnableToCaptureMedia) {
    struct Case {
        const char* name;
        std::function<void(av::CaptureEnvironment&)> fault;
        const char* message;
    };

    const Case cases[] = {
            {"no camera", [](auto& e) { e.addMicrophone(); },
             "could not create video device input"},
            {"camera input fails",
             [](auto& e) { e.addBackCamera().addMicrophone().failDeviceInput(MediaType::Video); },
             "could not create video device input"},
            {"camera input refused",
             [](auto& e) { e.addBackCamera().addMicrophone().refuseInput(MediaType::Video); },
             "Could not add video device input to the session"},
            {"no microphone", [](auto& e) { e.addBackCamera(); },
             "Could not create audio device input"},
            {"microphone input fails",
             [](auto& e) { e.addBackCamera().addMicrophone().failDeviceInput(MediaType::Audio); },
             "Could not create audio device input"},
            {"microphone input refused",
             [](auto& e) { e.addBackCamera().addMicrophone().refuseInput(MediaType::Audio); },
             "Could not add audio device input to the session"},
            {"movie file output refused",
             [](auto& e) {
                 e.addBackCamera().addMicrophone().refuseOutput(av::CaptureOutputKind::MovieFile);
             },
             "Could not add movie file output to the session"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
        c.fault(app.devices());
        app.present();
        EXPECT_TRUE(app.logged(c.message));
        EXPECT_EQ(app.recorder->setupResult(), AVCamSetupResult::sessionConfigurationFailed);
        EXPECT_EQ(app.recorder->session()->configurationDepth(), 0);  // closed on every path
        EXPECT_FALSE(app.recorder->session()->isRunning());
        EXPECT_FALSE(app.recorder->recordButton.lock()->isEnabled());
        auto alert = app.shownAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "recorder");
        EXPECT_EQ(alert->message(), "Unable to capture media");
        ASSERT_EQ(alert->actions().size(), 1U);
        EXPECT_EQ(alert->actions()[0].title, "OK");
    }
}

TEST(PelmarRecorderTest, OnlyTheExactTextTrueTurnsTheBlurThemeOn) {
    struct Case {
        const char* name;
        Json theme;
        bool blur;
    };

    const Case cases[] = {
            {"text true", Json{{"blur_effect", "true"}}, true},
            {"capitalised", Json{{"blur_effect", "True"}}, false},
            {"boolean", Json{{"blur_effect", true}}, false},
            {"absent", Json::object(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.standardDevices();
        app.sdk()->setThemeArgsForRecorder(c.theme);
        app.present();
        EXPECT_EQ(app.recorder->blurMode(), c.blur);
        EXPECT_EQ(app.recorder->blurringSwitch.lock()->isOn(), c.blur);
        EXPECT_EQ(app.recorder->previewView.lock()->isHidden(), c.blur);
        EXPECT_EQ(app.recorder->blurringPreviewView.lock()->isHidden(), !c.blur);
    }
}

TEST(PelmarRecorderTest, ChoosesDualThenDualWideThenWideCamerasThenAnyAtThePosition) {
    using av::CaptureDevicePosition;
    using av::CaptureDeviceType;

    struct Case {
        const char* name;
        std::function<void(av::CaptureEnvironment&)> devices;
        CaptureDevicePosition wanted;
        std::optional<CaptureDeviceType> type;
        CaptureDevicePosition position;
    };

    const Case cases[] = {
            {"dual first",
             [](auto& e) {
                 e.addBackCamera()
                         .addDualWideCamera(CaptureDevicePosition::Back)
                         .addDualCamera(CaptureDevicePosition::Back);
             },
             CaptureDevicePosition::Back, CaptureDeviceType::BuiltInDualCamera,
             CaptureDevicePosition::Back},
            {"dual wide next",
             [](auto& e) { e.addBackCamera().addDualWideCamera(CaptureDevicePosition::Back); },
             CaptureDevicePosition::Back, CaptureDeviceType::BuiltInDualWideCamera,
             CaptureDevicePosition::Back},
            {"wide at the position", [](auto& e) { e.addBackCamera().addFrontCamera(); },
             CaptureDevicePosition::Front, CaptureDeviceType::BuiltInWideAngleCamera,
             CaptureDevicePosition::Front},
            {"only another position", [](auto& e) { e.addBackCamera(); },
             CaptureDevicePosition::Front, CaptureDeviceType::BuiltInWideAngleCamera,
             CaptureDevicePosition::Back},
            {"none", [](auto&) {}, CaptureDevicePosition::Back, std::nullopt,
             CaptureDevicePosition::Back},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        c.devices(app.devices());
        auto device = PelmarRecorder::createDevice(MediaType::Video, c.wanted);
        ASSERT_EQ(device != nullptr, c.type.has_value());
        if (device) {
            EXPECT_EQ(device->deviceType(), *c.type);
            EXPECT_EQ(device->position(), c.position);
        }
    }
}

TEST(PelmarRecorderTest, TheCameraButtonIsEnabledOnlyWithMoreThanOneCamera) {
    for (bool two : {false, true}) {
        SCOPED_TRACE(two ? "two cameras" : "one camera");
        test::RecorderApp app;
        app.devices().addBackCamera().addMicrophone();
        if (two) {
            app.devices().addFrontCamera();
        }
        app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
        app.presentAndWaitUntilReady();
        EXPECT_EQ(app.recorder->cameraButton.lock()->isEnabled(), two);
        EXPECT_TRUE(app.logged("capture session configured"));
        EXPECT_TRUE(app.logged("session started"));
    }
}

TEST(PelmarRecorderTest, AMediaServicesResetRestartsOnlyASessionThatWasRunning) {
    for (const auto& c : test::runtimeErrorCases()) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.standardDevices();
        app.devices().failStartRunning(c.startFails);
        app.present();
        EXPECT_EQ(app.recorder->isSessionRunning(), !c.startFails);
        app.devices().failStartRunning(false);
        app.recorder->session()->simulateRuntimeError(c.code, "boom");
        app.drainSessionQueue();
        RunLoop::runUntilIdle();
        EXPECT_TRUE(app.logged("capture session runtime error: boom"));
        EXPECT_EQ(app.recorder->session()->isRunning(), c.runningAfter);
        EXPECT_EQ(app.recorder->recordButton.lock()->isEnabled(), c.runningAfter);
    }
}

TEST(PelmarRecorderTest, OnlyInterruptionReasonFourShowsTheCameraUnavailableLabel) {
    test::RecorderApp app;
    app.standardDevices();
    app.presentAndWaitUntilReady();
    auto label = app.recorder->cameraUnavailableLabel.lock();
    auto preview = app.recorder->previewView.lock();
    for (int reason = 1; reason <= 5; ++reason) {
        SCOPED_TRACE(reason);
        app.recorder->session()->simulateInterruption(
                static_cast<av::CaptureSession::InterruptionReason>(reason));
        RunLoop::runUntilIdle();
        EXPECT_TRUE(app.logged("capture session was interrupted with reason "
                               + std::to_string(reason)));
        EXPECT_EQ(preview->layer()->opacity(), 0.0);
        EXPECT_EQ(!label->isHidden(), reason == 4);
        if (reason == 4) {
            EXPECT_EQ(label->alpha(), 1.0);
        }
        app.recorder->session()->simulateInterruptionEnded();
        RunLoop::runUntilIdle();
        EXPECT_EQ(preview->layer()->opacity(), 1.0);
        app.advance(0.25);
        EXPECT_TRUE(label->isHidden());
    }
    EXPECT_TRUE(app.logged("capture session interruption ended"));
}

TEST(PelmarRecorderTest, RotatingTheWindowTurnsThePreviewAndTheRecording) {
    struct Case {
        ui::InterfaceOrientation interface;
        av::VideoOrientation video;
        int width;
    };

    const Case cases[] = {
            {ui::InterfaceOrientation::LandscapeRight, av::VideoOrientation::LandscapeRight, 1920},
            {ui::InterfaceOrientation::PortraitUpsideDown, av::VideoOrientation::PortraitUpsideDown,
             1080},
            {ui::InterfaceOrientation::LandscapeLeft, av::VideoOrientation::LandscapeLeft, 1920},
            {ui::InterfaceOrientation::Portrait, av::VideoOrientation::Portrait, 1080},
    };
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto preview = app.recorder->previewView.lock()->videoPreviewLayer()->connection();
    ASSERT_NE(preview, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.interface));
        app.window()->rotate(c.interface);
        app.drainSessionQueue();
        EXPECT_EQ(preview->videoOrientation(), c.video);
        EXPECT_EQ(app.videoOutput()->connection(MediaType::Video)->videoOrientation(), c.video);
        EXPECT_EQ(app.recorder->videoWidth(), c.width);
        EXPECT_EQ(app.recorder->videoHeight(), c.width == 1920 ? 1080 : 1920);
        EXPECT_EQ(app.recorder->view()->bounds().size(), app.window()->bounds().size());
        // The controls stay along the bottom, where a finger finds them.
        for (const auto& control :
             {app.recorder->recordButton.lock(), app.recorder->closeButton.lock()}) {
            const auto centre = control->convertTo(control->bounds().center(), nullptr);
            EXPECT_EQ(app.window()->hitTest(centre), control) << control->describe();
        }
    }
}

TEST(PelmarRecorderTest, AFlatOrUnknownDeviceKeepsTheLastOrientation) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto preview = app.recorder->previewView.lock()->videoPreviewLayer()->connection();
    ASSERT_NE(preview, nullptr);
    app.window()->rotate(ui::InterfaceOrientation::LandscapeRight);
    app.drainSessionQueue();
    // A device lying flat or of unknown attitude gives no direction: a size change then keeps
    // what the last upright attitude chose.
    for (auto device : {ui::DeviceOrientation::FaceUp, ui::DeviceOrientation::Unknown}) {
        SCOPED_TRACE(static_cast<int>(device));
        ui::Application::shared().setDeviceOrientation(device);
        app.recorder->viewWillTransition(app.window()->bounds().size());
        app.drainSessionQueue();
        EXPECT_EQ(preview->videoOrientation(), av::VideoOrientation::LandscapeRight);
        EXPECT_EQ(app.recorder->videoWidth(), 1920);
    }
}

TEST(PelmarRecorderTest, AStopBeforeTheFirstFrameCancelsTheWriterAndReportsNoMovie) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    EXPECT_TRUE(app.events->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->isRecording(); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.events->has("stopped"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(PelmarRecorderTest, TwoTapsInOneTurnStartOnlyOnce) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.tap(app.recorder->recordButton);
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->isRecording(); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.recorder->isRecording());
    EXPECT_EQ(app.loggedCount("movie recording toggle requested"), 1);
}

TEST(PelmarRecorderTest, APausedStopLeavesNothingBehindForTheNextRecording) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.0 / 30);
    app.tap(app.recorder->pauseButton);
    EXPECT_TRUE(app.recorder->isPaused());
    EXPECT_TRUE(app.recorder->pauseButton.lock()->isSelected());
    app.stopRecordingAndWait();
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isEnabled());

    app.startRecording();
    EXPECT_FALSE(app.recorder->isPaused());
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isSelected());
    app.feedFrame(2, 5.0);
    app.feedFrame(3, 5.0 + 1.0 / 30);
    EXPECT_TRUE(app.logged("session started with time 5.0333333"));
    EXPECT_NEAR(app.recorder->duration(), 1.0 / 30, 1e-9);
}

TEST(PelmarRecorderTest, AFrameWithoutAUsableTimeIsDroppedAndTimingCarriesOn) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    auto untimed = av::test::SyntheticMedia::frame(360, 480, 1, 0)
                           ->copyWithNewTiming({{media::Time::invalid(), media::Time::invalid(),
                                                 media::Time::invalid()}});
    ASSERT_TRUE(app.videoOutput()->deliver(untimed));
    app.drainSessionQueue();
    EXPECT_EQ(app.recorder->duration(), 0.0);
    EXPECT_FALSE(app.logged("video sample buffer writing error"));
    app.feedFrame(2, 1.0 / 30);
    EXPECT_NEAR(app.recorder->duration(), 1.0 / 30, 1e-9);
}

TEST(PelmarRecorderTest, AnInfiniteLimitCountsUpLikeNoLimit) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(std::numeric_limits<double>::infinity());
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.5);
    app.advance(1.0);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.recorder->isRecording());
    EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), "00:01");
}

TEST(PelmarRecorderTest, AWriterThatCannotBeMadeReturnsToIdleWithoutAStartedCall) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    // A file where the temporary folder should be: no movie can be made there.
    const auto tmp = foundation::Sandbox::temporaryDirectory();
    std::filesystem::remove_all(tmp);
    std::ofstream(tmp) << "not a folder";
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(
            app.runUntil([&] { return app.logged("could not create the movie asset writer"); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_FALSE(app.events->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isEnabled());
    std::filesystem::remove(tmp);
}

TEST(PelmarRecorderTest, AFailedWriterLogsEveryFrameAndIsReportedAsAFailure) {
    test::RecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    av::AssetWriter::failWritersAfterAppends(2);
    app.presentAndWaitUntilReady();
    app.startRecording();
    for (int i = 0; i < 5; ++i) {
        app.feedFrame(i, i / 30.0);
    }
    EXPECT_EQ(app.loggedCount("video sample buffer writing error"), 1);
    EXPECT_EQ(app.loggedCount("movie asset writer failed"), 3);
    app.stopRecordingAndWait();
    EXPECT_TRUE(app.logged("Movie file finishing error: the writer was made to fail"));
    EXPECT_EQ(app.events->events().back(), "stopped");
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderTest, TheLimitStopsTheRecordingAtTheFrameThatReachesIt) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.startRecording();
    for (int i = 0; i <= 31 && !app.events->has("stopped"); ++i) {
        app.feedFrame(i, i / 30.0);
    }
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_NEAR(app.recorder->duration(), 1.0, 1e-9);
    EXPECT_EQ(app.loggedCount("movie recording toggle requested"), 1);  // the start only
}

TEST(PelmarRecorderTest, TheLimitMayBeSetWhileTheSessionQueueHandlesFrames) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    // Set on the main thread while the session queue reads it for the frame just delivered.
    ASSERT_TRUE(app.videoOutput()->deliver(av::test::SyntheticMedia::frame(360, 480, 1, 0.5)));
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.feedFrame(2, 2.0);
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    EXPECT_FALSE(app.recorder->isRecording());
}

TEST(PelmarRecorderTest, AnAppearanceTwiceOverAddsTheSessionObserversOnce) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    // Unbalanced appearance calls: a second will-appear with no disappearance between.
    app.recorder->viewWillAppear(false);
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    app.recorder->session()->simulateRuntimeError(1, "boom");
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_EQ(app.loggedCount("capture session runtime error: boom"), 1);
    app.recorder->session()->videoDevice()->simulateSubjectAreaChange();
    app.drainSessionQueue();
    EXPECT_EQ(app.loggedCount("subject area did change"), 1);
}

TEST(PelmarRecorderTest, TheHostsButtonPicturesReplaceTheScreensOwnWhenTheyLoad) {
    test::RecorderApp app;
    const auto folder = app.sandboxRoot() / "looks";
    std::filesystem::create_directories(folder);
    const auto picture = [&](const std::string& name, const char* colour) {
        const auto file = folder / name;
        const std::string command =
                "ffmpeg -nostdin -v error -y -f lavfi -i color=" + std::string(colour)
                + ":s=12x12 -frames:v 1 '" + file.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return file.string();
    };
    app.standardDevices();
    app.devices().setManualFeed(true);
    auto recorder = app.makeRecorder();
    auto& looks = recorder->recorderUIConfig;
    looks.recordButton.imagePath = picture("record.png", "red");
    looks.recordButton.selectedImagePath = picture("stop.png", "blue");
    looks.cameraFlipButton.imagePath = (folder / "missing.png").string();
    looks.closeButton.imagePath = picture("close.png", "green");
    looks.closeButton.scale = 3;  // sizes are not the screen's to apply
    app.presentAndWaitUntilReady();
    const auto pathOf = [](const std::weak_ptr<ui::Button>& button, ui::ControlState state) {
        auto image = button.lock()->image(state);
        return image ? image->path().string() : std::string();
    };
    EXPECT_EQ(pathOf(recorder->recordButton, ui::ControlState::Normal),
              *looks.recordButton.imagePath);
    EXPECT_EQ(pathOf(recorder->recordButton, ui::ControlState::Selected),
              *looks.recordButton.selectedImagePath);
    EXPECT_EQ(pathOf(recorder->closeButton, ui::ControlState::Normal),
              *looks.closeButton.imagePath);
    EXPECT_EQ(recorder->closeButton.lock()->image(ui::ControlState::Normal)->width(), 12);
    // A picture that does not load leaves the button as the screen made it, with its own picture.
    EXPECT_EQ(std::filesystem::path(pathOf(recorder->cameraButton, ui::ControlState::Normal))
                      .filename()
                      .string(),
              "recorder-camera-switch@3x.png");
}

TEST(PelmarRecorderTest, ANewRecordingTidiesAwayTheOneBeforeFirst) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    const auto first = foundation::Sandbox::temporaryDirectory() / "first.mp4";
    const auto second = foundation::Sandbox::temporaryDirectory() / "second.mp4";
    std::ofstream(first) << std::string(100, 'x');
    std::ofstream(second) << std::string(100, 'x');
    // Too short to use: nothing follows, and the file stays for the host that was given it.
    app.recorder->processRecordedVideo(first.string(), Error{"writer", 1, "short"});
    app.settle();
    EXPECT_TRUE(std::filesystem::exists(first));
    app.recorder->processRecordedVideo(second.string(), Error{"writer", 1, "short"});
    app.settle();
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(second));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderTest, ABlurredPictureNeverGoesBackInTime) {
    test::App app;  // a sandbox of its own
    const auto folder = foundation::Sandbox::temporaryDirectory();
    internal::RecorderPipeline pipeline([](const std::string&) {});
    const auto movie = folder / "blurred.mp4";
    ASSERT_TRUE(pipeline.open(movie, 160, 120, nullptr));
    // The first camera frame starts the movie; with blur on, only pictures are written.
    auto placed = pipeline.place(true, av::test::SyntheticMedia::frame(160, 120, 0, 0.0));
    ASSERT_TRUE(placed);
    pipeline.writeVideo(*placed, true, 0);
    auto picture = [](int index) {
        return av::test::SyntheticMedia::frame(160, 120, index, 0)->imageBuffer();
    };
    const auto at = [](double seconds) {
        return media::Time::makeWithSeconds(seconds, 1000000000);
    };
    pipeline.writePicture(picture(1), at(0.10));
    pipeline.writePicture(picture(2), at(0.05));  // late: before the last written
    pipeline.writePicture(picture(3), at(0.10));  // late: at the last written
    pipeline.writePicture(picture(4), at(0.20));
    std::promise<std::optional<Error>> done;
    internal::finishMovie(pipeline.take(),
                          [&](const std::optional<Error>& error) { done.set_value(error); });
    ASSERT_EQ(done.get_future().get(), std::nullopt);
    const auto probe = av::test::MovieProbe::probe(movie);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoFrames, 2);
}

TEST(PelmarRecorderTest, AStopTapOvertakenByTheLimitStartsNoNewRecording) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.startRecording();
    for (int i = 0; i < 30; ++i) {
        app.feedFrame(i, i / 30.0);
    }
    ASSERT_TRUE(app.recorder->isRecording());
    // The user taps stop, and before the main loop turns, the frame that reaches the limit is
    // handled on the session queue (delivered, then handled one block later).
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    ASSERT_TRUE(app.videoOutput()->deliver(av::test::SyntheticMedia::frame(360, 480, 30, 1.0)));
    for (int i = 0; i < 2; ++i) {
        app.recorder->sessionQueue()->sync([] {});
    }
    ASSERT_FALSE(app.recorder->isRecording());
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    app.drainSessionQueue();
    app.settle();
    EXPECT_FALSE(app.recorder->isRecording());
    const auto events = app.events->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "started"), 1);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(PelmarRecorderTest, ClosingTheScreenStopsTheCountdownForGood) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->startDelay = 3;
    app.tap(app.recorder->recordButton);
    RunLoop::runUntilIdle();
    EXPECT_EQ(app.recorder->startDelayLabel.lock()->text(), "3");
    app.advance(1.0);
    EXPECT_EQ(app.recorder->startDelayLabel.lock()->text(), "2");
    app.tap(app.recorder->closeButton);
    RunLoop::runUntilIdle();
    app.advance(5.0);
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_EQ(app.events->events(),
              (std::vector<std::string>{"ready", "countdown 2", "cancelled"}));
    EXPECT_EQ(app.root()->presentedViewController(), nullptr);
    EXPECT_FALSE(app.recorder->session()->isRunning());
}

TEST(PelmarRecorderTest, ClosingTheScreenDiscardsARecordingUnderWay) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.0 / 30);
    EXPECT_EQ(temporaryFiles().size(), 1U);
    ASSERT_TRUE(app.tap(app.recorder->closeButton));
    // The presentation finishes, then the dismissal, each on the clock.
    app.advance(2 * ui::TransitionContext::kStandardDuration);
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("cancelled"); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_FALSE(app.events->has("stopped"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderTest, ARefusedCameraSwitchKeepsTheOldCamera) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto before = app.recorder->session()->videoDevice();
    ASSERT_EQ(before->position(), av::CaptureDevicePosition::Back);
    const auto front = CaptureDevice::devices(MediaType::Video)[1];
    app.devices().refuseDevice(front->uniqueID());
    app.tap(app.recorder->cameraButton);
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.logged("camera change requested"));
    EXPECT_EQ(app.recorder->session()->videoDevice(), before);
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());

    app.devices().refuseDevice(front->uniqueID(), false);
    app.tap(app.recorder->cameraButton);
    // The setting follows the switch on the main thread, where settings are read.
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->cameraDevice == CameraDevice::front; }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_EQ(app.recorder->session()->videoDevice()->position(), av::CaptureDevicePosition::Front);
    EXPECT_TRUE(app.videoOutput()->connection(MediaType::Video)->isVideoMirrored());
}

TEST(PelmarRecorderTest, HiddenControlsTakeNoTaps) {
    for (bool beforePresenting : {true, false}) {
        SCOPED_TRACE(beforePresenting ? "hidden before presenting" : "hidden on screen");
        test::RecorderApp app;
        app.standardDevices();
        app.devices().setManualFeed(true);
        app.makeRecorder();
        if (beforePresenting) {
            app.recorder->setShowControls(false);
        }
        app.presentAndWaitUntilReady();
        if (!beforePresenting) {
            app.recorder->setShowControls(false);
            app.settle();
        }
        auto& r = *app.recorder;
        for (const auto& control : std::initializer_list<std::shared_ptr<ui::Control>>{
                     r.recordButton.lock(), r.cameraButton.lock(), r.closeButton.lock(),
                     r.blurringSwitch.lock()}) {
            const auto refused = ui::tap(*control);
            ASSERT_TRUE(refused.has_value());
            EXPECT_NE(refused->find("is hidden"), std::string::npos) << *refused;
        }
        app.settle();
        EXPECT_FALSE(r.isRecording());
        EXPECT_EQ(app.loggedCount("movie recording toggle requested"), 0);
        EXPECT_EQ(app.topViewController(), app.recorder);

        r.setShowControls(true);
        app.settle();
        app.startRecording();
    }
}

TEST(PelmarRecorderTest, TappingTheBlurSwitchSwapsThePreviews) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto blurSwitch = app.recorder->blurringSwitch.lock();
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "on" : "off");
        ASSERT_TRUE(app.tap(blurSwitch));
        EXPECT_EQ(blurSwitch->isOn(), on);
        EXPECT_EQ(app.recorder->blurMode(), on);
        EXPECT_EQ(app.recorder->previewView.lock()->isHidden(), on);
        EXPECT_EQ(app.recorder->blurringPreviewView.lock()->isHidden(), !on);
    }
}

TEST(PelmarRecorderTest, SnapshotOfTheScreenWhileRecording) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.0);
    // A face, a loud sound and dim light, so that every meter shows something.
    app.deliverFaces({av::MetadataFaceObject{1, 0.3, 0.25, 0.4, 0.3}});
    app.feedAudio(av::test::SyntheticMedia::tone(0, 1024, 44100, 1));
    const auto lux = app.recorder->luxMeterView.lock();
    ASSERT_NE(lux, nullptr);
    lux->setCurrentLuminousity(0.2);
    app.advance(1.0);
    EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), "00:01");
    EXPECT_FALSE(app.recorder->faceOutlineView.lock()->faces.empty());
    const auto path = app.writeSnapshot(*app.window(), "PelmarRecorder_recording.png");
    ASSERT_TRUE(path.has_value());
    EXPECT_GT(std::filesystem::file_size(*path), 0U);
    app.expectLooksRightOncePainted(*app.window(), /*pictures=*/1);
}

TEST(PelmarRecorderTest, FramesWithoutABrightnessReadingAreSkippedByTheLightMeter) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.feedFrame(0, 0.0, /*brightness=*/false);
    app.feedFrame(1, 1.0 / 30, /*brightness=*/true);
    EXPECT_EQ(app.events->lux(), std::vector<double>{1.25});
}

TEST(PelmarRecorderTest, AdjustTimeShiftsPresentationAndDecodeTimes) {
    auto sample = av::test::SyntheticMedia::tone(44100 * 5);
    auto shifted = PelmarRecorder::adjustTime(sample, media::Time::make(2, 1));
    ASSERT_NE(shifted, nullptr);
    EXPECT_EQ(shifted->presentationTimeStamp(), media::Time::make(3, 1));
    EXPECT_FALSE(shifted->decodeTimeStamp().isValid());
    EXPECT_EQ(shifted->dataBuffer(), sample->dataBuffer());

    auto withDecode = sample->copyWithNewTiming(
            {{media::Time::make(1, 44100), media::Time::make(10, 1), media::Time::make(9, 1)}});
    auto both = PelmarRecorder::adjustTime(withDecode, media::Time::make(4, 1));
    EXPECT_EQ(both->presentationTimeStamp(), media::Time::make(6, 1));
    EXPECT_EQ(both->decodeTimeStamp(), media::Time::make(5, 1));

    EXPECT_EQ(PelmarRecorder::adjustTime(nullptr, media::Time::make(1, 1)), nullptr);
    EXPECT_EQ(PelmarRecorder::adjustTime(sample, media::Time()), nullptr);
}

TEST(PelmarRecorderTest, ARecorderClosedWhileRecordingIsFreed) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    ASSERT_TRUE(app.tap(app.recorder->closeButton));
    app.expectFreedAfterDismiss(std::move(app.recorder));
    EXPECT_TRUE(app.events->has("cancelled"));
}

TEST(PelmarRecorderTest, ARecorderLastHeldOffTheMainThreadIsFreedThere) {
    // Capture callbacks hold the recorder while they run on the session queue, so its last holder
    // can be that queue: freeing it there must not touch its views.
    test::RecorderApp app;
    app.makeRecorder()->loadViewIfNeeded();
    app.settle();  // no queued work still holds it
    auto recorder = std::move(app.recorder);
    std::weak_ptr<PelmarRecorder> weak = recorder;
    std::promise<bool> offMain;
    dispatch::Queue::serial("last holder")->async([&, held = std::move(recorder)]() mutable {
        held.reset();
        offMain.set_value(!dispatch::isMainThread());
    });
    EXPECT_TRUE(offMain.get_future().get());
    EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace pelmar
