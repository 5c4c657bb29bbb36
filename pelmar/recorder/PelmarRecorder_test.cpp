#include "pelmar/recorder/PelmarRecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureMetadataOutput.h"
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
#include "pelmar/recorder/testing/PermissionCases.h"
#include "pelmar/recorder/testing/RecorderApp.h"
#include "pelmar/recorder/testing/RuntimeErrorCases.h"

namespace pelmar {
namespace {

using av::AuthorizationStatus;
using av::MediaType;
using dispatch::RunLoop;

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

    // One removal takes every observation away: once the screen has gone, its session's
    // running changes reach it no more.
    app.recorder->viewDidDisappear(false);
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    ASSERT_FALSE(app.recorder->recordButton.lock()->isEnabled());
    app.recorder->session()->startRunning();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->recordButton.lock()->isEnabled());
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
    app.expectLooksRight(*app.window(), /*pictures=*/1);
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
