#include "pelmar/recorder/PelmarRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/testing/RecorderFixture.h"

namespace pelmar {
namespace {

using av::AuthorizationStatus;
using av::CaptureDevice;
using av::MediaType;
using dispatch::RunLoop;

class PelmarRecorderTest : public test::RecorderFixture {
protected:
    // Files left in the temporary folder.
    static std::vector<std::filesystem::path> temporaryFiles() {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& entry :
             std::filesystem::directory_iterator(foundation::Sandbox::temporaryDirectory(), ec)) {
            files.push_back(entry.path());
        }
        return files;
    }

    // Feeds one camera frame (manual feed) to the recorder's video output.
    void feedFrame(int index, double seconds, bool brightness = true) {
        auto frame = av::test::SyntheticMedia::frame(360, 480, index, seconds);
        if (brightness) {
            frame->attachments()["{Exif}"]["BrightnessValue"] = 1.25;
        }
        ASSERT_TRUE(videoOutput()->deliver(frame));
        drainSessionQueue();
    }

    std::shared_ptr<av::CaptureVideoDataOutput> videoOutput() {
        for (const auto& output : recorder_->session()->outputs()) {
            if (auto video = std::dynamic_pointer_cast<av::CaptureVideoDataOutput>(output)) {
                return video;
            }
        }
        return nullptr;
    }
};

TEST_F(PelmarRecorderTest, StartsOnlyWithBothPermissionsAndAlertsTheLaterRefusal) {
    struct Case {
        const char* name;
        AuthorizationStatus camera;
        AuthorizationStatus microphone;
        bool cameraAnswer;
        bool microphoneAnswer;
        AVCamSetupResult result;
        const char* alert;  // null: none
    };

    const char* cameraText =
            "recorder doesn't have permission to use the camera, please change privacy settings";
    const char* micText =
            "recorder doesn't have permission to use the microphone, please change "
            "privacy settings";
    const Case cases[] = {
            {"both authorised", AuthorizationStatus::Authorized, AuthorizationStatus::Authorized,
             true, true, AVCamSetupResult::success, nullptr},
            {"both asked, both granted", AuthorizationStatus::NotDetermined,
             AuthorizationStatus::NotDetermined, true, true, AVCamSetupResult::success, nullptr},
            {"camera asked and refused", AuthorizationStatus::NotDetermined,
             AuthorizationStatus::Authorized, false, true, AVCamSetupResult::cameraNotAuthorized,
             cameraText},
            {"microphone asked and refused", AuthorizationStatus::Authorized,
             AuthorizationStatus::NotDetermined, true, false, AVCamSetupResult::micNotAuthorized,
             micText},
            {"both refused before", AuthorizationStatus::Denied, AuthorizationStatus::Denied, true,
             true, AVCamSetupResult::micNotAuthorized, micText},
            {"camera restricted", AuthorizationStatus::Restricted, AuthorizationStatus::Authorized,
             true, true, AVCamSetupResult::cameraNotAuthorized, cameraText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        env().addBackCamera().addFrontCamera().addMicrophone();
        env().setAuthorizationStatus(MediaType::Video, c.camera)
                .setAuthorizationStatus(MediaType::Audio, c.microphone)
                .setRequestAnswer(MediaType::Video, c.cameraAnswer)
                .setRequestAnswer(MediaType::Audio, c.microphoneAnswer)
                .setAnswerDelay(1.0);
        makeRecorder();
        present();
        const bool asked = c.camera == AuthorizationStatus::NotDetermined
                           || c.microphone == AuthorizationStatus::NotDetermined;
        if (asked) {
            // The configuration waits, on the suspended session queue, for every answer.
            EXPECT_TRUE(recorder_->sessionQueue()->isSuspended());
            EXPECT_TRUE(recorder_->session()->inputs().empty());
            RunLoop::advance(1.0);
            ASSERT_TRUE(
                    RunLoop::runUntil([&] { return !recorder_->sessionQueue()->isSuspended(); }));
            drainSessionQueue();
            RunLoop::runUntilIdle();
        }
        EXPECT_EQ(recorder_->setupResult(), c.result);
        EXPECT_EQ(recorder_->session()->isRunning(), c.result == AVCamSetupResult::success);
        EXPECT_EQ(recorder_->recordButton.lock()->isEnabled(),
                  c.result == AVCamSetupResult::success);
        EXPECT_EQ(events_->events().front(), "ready");
        auto alert = shownAlert();
        if (!c.alert) {
            EXPECT_EQ(alert, nullptr);
        } else {
            ASSERT_NE(alert, nullptr);
            EXPECT_EQ(alert->title(), "recorder");
            EXPECT_EQ(alert->message(), c.alert);
            ASSERT_EQ(alert->actions().size(), 2U);
            EXPECT_EQ(alert->actions()[0].title, "OK");
            EXPECT_EQ(alert->actions()[0].style, ui::AlertAction::Style::Cancel);
            EXPECT_TRUE(alert->triggerAction("Settings"));
            RunLoop::advance(2 * ui::TransitionContext::kStandardDuration);
            EXPECT_EQ(ui::Application::shared().openedURLs(),
                      std::vector<std::string>{"app-settings:"});
        }
        TearDown();
    }
    SetUp();  // the fixture's own TearDown follows
}

TEST_F(PelmarRecorderTest, EachConfigurationFailureLogsItsMessageAndShowsUnableToCaptureMedia) {
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
        SetUp();
        env().setAuthorizationStatus(MediaType::Video, AuthorizationStatus::Authorized)
                .setAuthorizationStatus(MediaType::Audio, AuthorizationStatus::Authorized);
        c.fault(env());
        present();
        EXPECT_TRUE(logged(c.message));
        EXPECT_EQ(recorder_->setupResult(), AVCamSetupResult::sessionConfigurationFailed);
        EXPECT_EQ(recorder_->session()->configurationDepth(), 0);  // closed on every path
        EXPECT_FALSE(recorder_->session()->isRunning());
        EXPECT_FALSE(recorder_->recordButton.lock()->isEnabled());
        auto alert = shownAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "recorder");
        EXPECT_EQ(alert->message(), "Unable to capture media");
        ASSERT_EQ(alert->actions().size(), 1U);
        EXPECT_EQ(alert->actions()[0].title, "OK");
        TearDown();
    }
    SetUp();
}

TEST_F(PelmarRecorderTest, OnlyTheExactTextTrueTurnsTheBlurThemeOn) {
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
        SetUp();
        standardDevices();
        pelmar_->setThemeArgsForRecorder(c.theme);
        present();
        EXPECT_EQ(recorder_->blurMode(), c.blur);
        EXPECT_EQ(recorder_->blurringSwitch.lock()->isOn(), c.blur);
        EXPECT_EQ(recorder_->previewView.lock()->isHidden(), c.blur);
        EXPECT_EQ(recorder_->blurringPreviewView.lock()->isHidden(), !c.blur);
        TearDown();
    }
    SetUp();
}

TEST_F(PelmarRecorderTest, ChoosesDualThenDualWideThenWideCamerasThenAnyAtThePosition) {
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
        env().reset();
        c.devices(env());
        auto device = PelmarRecorder::createDevice(MediaType::Video, c.wanted);
        ASSERT_EQ(device != nullptr, c.type.has_value());
        if (device) {
            EXPECT_EQ(device->deviceType(), *c.type);
            EXPECT_EQ(device->position(), c.position);
        }
    }
}

TEST_F(PelmarRecorderTest, TheCameraButtonIsEnabledOnlyWithMoreThanOneCamera) {
    for (bool two : {false, true}) {
        SCOPED_TRACE(two ? "two cameras" : "one camera");
        SetUp();
        env().addBackCamera().addMicrophone();
        if (two) {
            env().addFrontCamera();
        }
        env().setAuthorizationStatus(MediaType::Video, AuthorizationStatus::Authorized)
                .setAuthorizationStatus(MediaType::Audio, AuthorizationStatus::Authorized);
        presentAndWaitUntilReady();
        EXPECT_EQ(recorder_->cameraButton.lock()->isEnabled(), two);
        EXPECT_TRUE(logged("capture session configured"));
        EXPECT_TRUE(logged("session started"));
        TearDown();
    }
    SetUp();
}

TEST_F(PelmarRecorderTest, AMediaServicesResetRestartsOnlyASessionThatWasRunning) {
    struct Case {
        const char* name;
        bool startFails;
        long code;
        bool runningAfter;
    };

    const Case cases[] = {
            {"reset while running", false, av::kCaptureErrorMediaServicesWereReset, true},
            {"other error", false, -11800, false},
            {"reset of a session that never ran", true, av::kCaptureErrorMediaServicesWereReset,
             false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        standardDevices();
        env().failStartRunning(c.startFails);
        present();
        EXPECT_EQ(recorder_->isSessionRunning(), !c.startFails);
        env().failStartRunning(false);
        recorder_->session()->simulateRuntimeError(c.code, "boom");
        drainSessionQueue();
        RunLoop::runUntilIdle();
        EXPECT_TRUE(logged("capture session runtime error: boom"));
        EXPECT_EQ(recorder_->session()->isRunning(), c.runningAfter);
        EXPECT_EQ(recorder_->recordButton.lock()->isEnabled(), c.runningAfter);
        TearDown();
    }
    SetUp();
}

TEST_F(PelmarRecorderTest, OnlyInterruptionReasonFourShowsTheCameraUnavailableLabel) {
    standardDevices();
    presentAndWaitUntilReady();
    auto label = recorder_->cameraUnavailableLabel.lock();
    auto preview = recorder_->previewView.lock();
    for (int reason = 1; reason <= 5; ++reason) {
        SCOPED_TRACE(reason);
        recorder_->session()->simulateInterruption(
                static_cast<av::CaptureSession::InterruptionReason>(reason));
        RunLoop::runUntilIdle();
        EXPECT_TRUE(
                logged("capture session was interrupted with reason " + std::to_string(reason)));
        EXPECT_EQ(preview->layer()->opacity(), 0.0);
        EXPECT_EQ(!label->isHidden(), reason == 4);
        if (reason == 4) {
            EXPECT_EQ(label->alpha(), 1.0);
        }
        recorder_->session()->simulateInterruptionEnded();
        RunLoop::runUntilIdle();
        EXPECT_EQ(preview->layer()->opacity(), 1.0);
        RunLoop::advance(0.25);
        EXPECT_TRUE(label->isHidden());
    }
    EXPECT_TRUE(logged("capture session interruption ended"));
}

TEST_F(PelmarRecorderTest, RotationFollowsTheDeviceOnlyWhenItIsUpright) {
    struct Case {
        ui::DeviceOrientation device;
        av::VideoOrientation video;
    };

    const Case cases[] = {
            {ui::DeviceOrientation::LandscapeLeft, av::VideoOrientation::LandscapeRight},
            {ui::DeviceOrientation::FaceUp, av::VideoOrientation::LandscapeRight},
            {ui::DeviceOrientation::PortraitUpsideDown, av::VideoOrientation::PortraitUpsideDown},
            {ui::DeviceOrientation::Unknown, av::VideoOrientation::PortraitUpsideDown},
            {ui::DeviceOrientation::LandscapeRight, av::VideoOrientation::LandscapeLeft},
    };
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    auto preview = recorder_->previewView.lock()->videoPreviewLayer()->connection();
    ASSERT_NE(preview, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.device));
        const int raw = static_cast<int>(c.device);
        if (raw >= 1 && raw <= 4) {
            window_->rotate(static_cast<ui::InterfaceOrientation>(raw));
        } else {
            // Lying flat turns nothing: the screens are not told and the orientation stays.
            ui::Application::shared().setDeviceOrientation(c.device);
        }
        drainSessionQueue();
        EXPECT_EQ(preview->videoOrientation(), c.video);
        EXPECT_EQ(videoOutput()->connection(MediaType::Video)->videoOrientation(), c.video);
        EXPECT_EQ(recorder_->videoWidth(),
                  c.video == av::VideoOrientation::LandscapeRight
                                  || c.video == av::VideoOrientation::LandscapeLeft
                          ? 1920
                          : 1080);
    }
}

TEST_F(PelmarRecorderTest, AStopBeforeTheFirstFrameCancelsTheWriterAndReportsNoMovie) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    startRecording();
    EXPECT_TRUE(events_->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    recorder_->recordButton.lock()->tap();
    ASSERT_TRUE(RunLoop::runUntil([&] { return !recorder_->isRecording(); }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(events_->has("stopped"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(recorder_->recordButton.lock()->isEnabled());
    EXPECT_FALSE(recorder_->recordButton.lock()->isSelected());
}

TEST_F(PelmarRecorderTest, TwoTapsInOneTurnStartOnlyOnce) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    recorder_->recordButton.lock()->tap();
    recorder_->recordButton.lock()->tap();
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->isRecording(); }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(recorder_->isRecording());
    EXPECT_EQ(loggedCount("movie recording toggle requested"), 1);
}

TEST_F(PelmarRecorderTest, HiddenControlsTakeNoTaps) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    EXPECT_EQ(recorder_->view()->window(), window_);
    EXPECT_EQ(recorder_->view()->frame(), window_->bounds());
    recorder_->setShowControls(false);
    RunLoop::runUntilIdle();
    const auto refused = ui::tap(*recorder_->recordButton.lock());
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("is hidden"), std::string::npos) << *refused;
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(loggedCount("movie recording toggle requested"), 0);

    recorder_->setShowControls(true);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(recorder_->recordButton.lock()->tap());
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->isRecording(); }));
}

TEST_F(PelmarRecorderTest, APausedStopLeavesNothingBehindForTheNextRecording) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    startRecording();
    feedFrame(0, 0.0);
    feedFrame(1, 1.0 / 30);
    recorder_->pauseButton.lock()->tap();
    EXPECT_TRUE(recorder_->isPaused());
    EXPECT_TRUE(recorder_->pauseButton.lock()->isSelected());
    stopRecordingAndWait();
    EXPECT_FALSE(recorder_->pauseButton.lock()->isEnabled());

    startRecording();
    EXPECT_FALSE(recorder_->isPaused());
    EXPECT_FALSE(recorder_->pauseButton.lock()->isSelected());
    feedFrame(2, 5.0);
    feedFrame(3, 5.0 + 1.0 / 30);
    EXPECT_TRUE(logged("session started with time 5.0333333"));
    EXPECT_NEAR(recorder_->duration(), 1.0 / 30, 1e-9);
}

TEST_F(PelmarRecorderTest, AFrameWithoutAUsableTimeIsDroppedAndTimingCarriesOn) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    startRecording();
    feedFrame(0, 0.0);
    auto untimed = av::test::SyntheticMedia::frame(360, 480, 1, 0)
                           ->copyWithNewTiming({{media::Time::invalid(), media::Time::invalid(),
                                                 media::Time::invalid()}});
    ASSERT_TRUE(videoOutput()->deliver(untimed));
    drainSessionQueue();
    EXPECT_EQ(recorder_->duration(), 0.0);
    EXPECT_FALSE(logged("video sample buffer writing error"));
    feedFrame(2, 1.0 / 30);
    EXPECT_NEAR(recorder_->duration(), 1.0 / 30, 1e-9);
}

TEST_F(PelmarRecorderTest, AnInfiniteLimitCountsUpLikeNoLimit) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    recorder_->maxRecordedDurationSeconds = std::numeric_limits<double>::infinity();
    startRecording();
    feedFrame(0, 0.0);
    feedFrame(1, 1.5);
    RunLoop::advance(1.0);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(recorder_->isRecording());
    EXPECT_EQ(recorder_->recordingDurationLabel.lock()->text(), "00:01");
}

TEST_F(PelmarRecorderTest, AWriterThatCannotBeMadeReturnsToIdleWithoutAStartedCall) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    // A file where the temporary folder should be: no movie can be made there.
    const auto tmp = foundation::Sandbox::temporaryDirectory();
    std::filesystem::remove_all(tmp);
    std::ofstream(tmp) << "not a folder";
    recorder_->recordButton.lock()->tap();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return logged("could not create the movie asset writer"); }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_FALSE(events_->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(recorder_->recordButton.lock()->isEnabled());
    EXPECT_FALSE(recorder_->pauseButton.lock()->isEnabled());
    std::filesystem::remove(tmp);
}

TEST_F(PelmarRecorderTest, AFailedWriterLogsEveryFrameAndIsReportedAsAFailure) {
    standardDevices();
    env().setManualFeed(true);
    av::AssetWriter::failWritersAfterAppends(2);
    presentAndWaitUntilReady();
    startRecording();
    for (int i = 0; i < 5; ++i) {
        feedFrame(i, i / 30.0);
    }
    EXPECT_EQ(loggedCount("video sample buffer writing error"), 1);
    EXPECT_EQ(loggedCount("movie asset writer failed"), 3);
    stopRecordingAndWait();
    EXPECT_TRUE(logged("Movie file finishing error: the writer was made to fail"));
    EXPECT_EQ(events_->events().back(), "stopped");
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST_F(PelmarRecorderTest, TheLimitStopsTheRecordingEvenWhileTheRecordButtonIsDisabled) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    recorder_->maxRecordedDurationSeconds = 1;
    startRecording();
    recorder_->recordButton.lock()->setEnabled(false);  // as during a camera switch
    for (int i = 0; i <= 31 && !events_->has("stopped"); ++i) {
        feedFrame(i, i / 30.0);
    }
    ASSERT_TRUE(RunLoop::runUntil([&] { return events_->has("stopped"); }));
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_NEAR(recorder_->duration(), 1.0, 1e-9);
}

TEST_F(PelmarRecorderTest, ClosingTheScreenStopsTheCountdownForGood) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    recorder_->startDelay = 3;
    recorder_->recordButton.lock()->tap();
    RunLoop::runUntilIdle();
    EXPECT_EQ(recorder_->startDelayLabel.lock()->text(), "3");
    RunLoop::advance(1.0);
    EXPECT_EQ(recorder_->startDelayLabel.lock()->text(), "2");
    recorder_->closeButton.lock()->tap();
    RunLoop::runUntilIdle();
    RunLoop::advance(5.0);
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(events_->events(), (std::vector<std::string>{"ready", "countdown 2", "cancelled"}));
    EXPECT_EQ(root_->presentedViewController(), nullptr);
    EXPECT_FALSE(recorder_->session()->isRunning());
}

TEST_F(PelmarRecorderTest, ClosingTheScreenDiscardsARecordingUnderWay) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    startRecording();
    feedFrame(0, 0.0);
    feedFrame(1, 1.0 / 30);
    EXPECT_EQ(temporaryFiles().size(), 1U);
    ASSERT_TRUE(recorder_->closeButton.lock()->tap());
    // The presentation finishes, then the dismissal, each on the clock.
    RunLoop::advance(2 * ui::TransitionContext::kStandardDuration);
    ASSERT_TRUE(RunLoop::runUntil([&] { return events_->has("cancelled"); }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_FALSE(events_->has("stopped"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST_F(PelmarRecorderTest, ARefusedCameraSwitchKeepsTheOldCamera) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    auto before = recorder_->session()->videoDevice();
    ASSERT_EQ(before->position(), av::CaptureDevicePosition::Back);
    const auto front = CaptureDevice::devices(MediaType::Video)[1];
    env().refuseDevice(front->uniqueID());
    recorder_->cameraButton.lock()->tap();
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(logged("camera change requested"));
    EXPECT_EQ(recorder_->session()->videoDevice(), before);
    EXPECT_TRUE(recorder_->cameraButton.lock()->isEnabled());

    env().refuseDevice(front->uniqueID(), false);
    recorder_->cameraButton.lock()->tap();
    // The setting follows the switch on the main thread, where settings are read.
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->cameraDevice == CameraDevice::front; }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_EQ(recorder_->session()->videoDevice()->position(), av::CaptureDevicePosition::Front);
    EXPECT_TRUE(videoOutput()->connection(MediaType::Video)->isVideoMirrored());
}

TEST_F(PelmarRecorderTest, FramesWithoutABrightnessReadingAreSkippedByTheLightMeter) {
    standardDevices();
    env().setManualFeed(true);
    presentAndWaitUntilReady();
    feedFrame(0, 0.0, /*brightness=*/false);
    feedFrame(1, 1.0 / 30, /*brightness=*/true);
    EXPECT_EQ(events_->lux(), std::vector<double>{1.25});
}

TEST_F(PelmarRecorderTest, AdjustTimeShiftsPresentationAndDecodeTimes) {
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

TEST_F(PelmarRecorderTest, ADismissedRecorderIsFreed) {
    standardDevices();
    presentAndWaitUntilReady();
    std::weak_ptr<PelmarRecorder> weak = recorder_;
    ASSERT_TRUE(recorder_->closeButton.lock()->tap());
    // The presentation finishes, then the dismissal, each on the clock.
    RunLoop::advance(2 * ui::TransitionContext::kStandardDuration);
    ASSERT_TRUE(RunLoop::runUntil([&] { return events_->has("cancelled"); }));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    recorder_.reset();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace pelmar
