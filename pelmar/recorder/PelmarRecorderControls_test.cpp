#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderApp.h"

namespace pelmar {
namespace {

using av::CaptureDevice;
using av::DevicePoint;
using av::ExposureMode;
using av::FocusMode;
using av::MediaType;
using dispatch::RunLoop;

TEST(PelmarRecorderControlsTest, TheCountdownShowsEachSecondAndStartsAtZero) {
    struct Case {
        const char* name;
        int64_t startDelay;
        std::vector<std::string> labels;     // shown after the tap, then after each tick
        std::vector<std::string> countdown;  // what the delegate hears
    };

    const Case cases[] = {
            {"none", 0, {}, {}},
            {"negative", -1, {}, {}},
            {"one second", 1, {"1"}, {"countdown 0"}},
            {"three seconds", 3, {"3", "2", "1"}, {"countdown 2", "countdown 1", "countdown 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.readyWithManualFeed();
        app.recorder->startDelay = c.startDelay;
        auto label = app.recorder->startDelayLabel.lock();
        ASSERT_TRUE(app.tap(app.recorder->recordButton));
        RunLoop::runUntilIdle();
        for (const auto& shown : c.labels) {
            EXPECT_FALSE(label->isHidden());
            EXPECT_EQ(label->text(), shown);
            EXPECT_FALSE(app.recorder->isRecording());
            // Nothing can be tapped while counting down.
            EXPECT_FALSE(app.recorder->recordButton.lock()->isEnabled());
            EXPECT_FALSE(app.recorder->pauseButton.lock()->isEnabled());
            EXPECT_FALSE(app.recorder->cameraButton.lock()->isEnabled());
            app.advance(1.0);
        }
        ASSERT_TRUE(app.runUntil([&] { return app.recorder->isRecording(); }));
        app.drainSessionQueue();
        RunLoop::runUntilIdle();
        EXPECT_TRUE(label->isHidden());
        std::vector<std::string> heard;
        for (const auto& e : app.events->events()) {
            if (e.rfind("countdown", 0) == 0) {
                heard.push_back(e);
            }
        }
        EXPECT_EQ(heard, c.countdown);
        EXPECT_TRUE(app.events->has("started"));
    }
}

// The countdown's white digits carry a soft black shadow all round, so they read over a light
// picture too: painted, the label has dark pixels, which its white text alone never makes.
TEST(PelmarRecorderControlsTest, TheCountdownDigitsCastABlackShadow) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->startDelay = 3;
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    RunLoop::runUntilIdle();
    auto label = app.recorder->startDelayLabel.lock();
    ASSERT_FALSE(label->isHidden());
    ASSERT_EQ(label->text(), "3");
    EXPECT_DOUBLE_EQ(label->layer()->shadowOpacity(), 0.8);
    EXPECT_EQ(label->layer()->shadowColor(), ui::Color::black());
    EXPECT_EQ(label->layer()->shadowOffset(), (ui::Size{0, 0}));
    const auto darkPixels = [&] {
        auto painted = ui::render(*label, 2);
        int dark = 0;
        for (int y = 0; painted && y < painted->height(); ++y) {
            for (int x = 0; x < painted->width(); ++x) {
                const auto c = ui::test::colorAt(*painted, x / 2.0, y / 2.0);
                dark += c.alpha > 0.1 && c.red < 0.3 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(darkPixels(), 50);
    label->layer()->setShadowOpacity(0);
    EXPECT_EQ(darkPixels(), 0) << "the dark pixels are the shadow's";
}

TEST(PelmarRecorderControlsTest, TheDurationLabelCountsUpOrDownWithItsBias) {
    struct Case {
        const char* name;
        double limit;
        double recorded;
        const char* label;
    };

    const Case cases[] = {
            {"no limit at the start", 0, 0, "00:00"},    {"no limit at 3.6 s", 0, 3.6, "00:04"},
            {"60 s limit at the start", 60, 0, "01:00"}, {"60 s limit at 0.3 s", 60, 0.3, "01:00"},
            {"60 s limit at 0.5 s", 60, 0.5, "00:59"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.readyWithManualFeed();
        app.recorder->setMaxRecordedDurationSeconds(c.limit);
        app.recorder->startDelay = 0;
        app.startRecording();
        app.feedFrame(0, 0.0);
        if (c.recorded > 0) {
            app.feedFrame(1, c.recorded);
        }
        app.advance(1.0);
        RunLoop::runUntilIdle();
        EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), c.label);
    }
}

TEST(PelmarRecorderControlsTest, TheDelegateHearsTheDurationToTwoDecimals) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto durations = std::make_shared<std::vector<double>>();

    struct Listener : test::RecorderEvents {
        std::shared_ptr<std::vector<double>> seen;

        void recorderCurrentRecordedDurationSeconds(double seconds) override {
            seen->push_back(seconds);
        }
    };

    auto listener = std::make_shared<Listener>();
    listener->seen = durations;
    app.sdk()->setRecorderDelegate(listener);
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 0.5);
    app.advance(1.0);
    RunLoop::runUntilIdle();
    ASSERT_FALSE(durations->empty());
    EXPECT_EQ(durations->back(), 0.5);
}

struct FocusCase {
    const char* name;
    av::CaptureDevicePosition camera;
    bool lockFails;
    FocusMode focus;
    DevicePoint focusPoint;
    ExposureMode exposure;
    DevicePoint exposurePoint;
    bool monitoring;
};

TEST(PelmarRecorderControlsTest, ATapFocusesAndExposesWhereTheCameraAllows) {
    const FocusCase cases[] = {
            // The portrait preview shows the camera's landscape picture turned a quarter: its
            // lower left quarter point is the device's lower right one.
            {"back camera", av::CaptureDevicePosition::Back, false, FocusMode::AutoFocus,
             DevicePoint{0.75, 0.75}, ExposureMode::AutoExpose, DevicePoint{0.75, 0.75}, true},
            // A fixed-focus camera keeps its focus but exposes at the point, which the mirrored
            // front preview puts at the device's upper right.
            {"front camera", av::CaptureDevicePosition::Front, false,
             FocusMode::ContinuousAutoFocus, DevicePoint{}, ExposureMode::AutoExpose,
             DevicePoint{0.75, 0.25}, true},
            {"lock refused", av::CaptureDevicePosition::Back, true, FocusMode::ContinuousAutoFocus,
             DevicePoint{}, ExposureMode::ContinuousAutoExposure, DevicePoint{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.standardDevices();
        app.devices().setManualFeed(true);
        app.makeRecorder()->cameraDevice = c.camera == av::CaptureDevicePosition::Front
                                                   ? CameraDevice::front
                                                   : CameraDevice::rear;
        app.presentAndWaitUntilReady();
        app.devices().failLockForConfiguration(c.lockFails);
        auto device = app.recorder->session()->videoDevice();
        ASSERT_EQ(device->position(), c.camera);
        const auto bounds = app.recorder->previewView.lock()->bounds();
        app.recorder->focusAndExposeTap({bounds.width * 0.25, bounds.height * 0.75});
        app.drainSessionQueue();
        EXPECT_EQ(device->focusMode(), c.focus);
        EXPECT_EQ(device->focusPointOfInterest(), c.focusPoint);
        EXPECT_EQ(device->exposureMode(), c.exposure);
        EXPECT_EQ(device->exposurePointOfInterest(), c.exposurePoint);
        EXPECT_EQ(device->isSubjectAreaChangeMonitoringEnabled(), c.monitoring);
        EXPECT_FALSE(device->isLockedForConfiguration());
        EXPECT_EQ(app.logged("could not lock device for configuration"), c.lockFails);
    }
}

TEST(PelmarRecorderControlsTest, ATapOnThePreviewThenASceneChangeGoBackToContinuousFocus) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto device = app.recorder->session()->videoDevice();
    ASSERT_TRUE(app.tap(app.recorder->previewView));
    app.drainSessionQueue();
    EXPECT_EQ(device->focusMode(), FocusMode::AutoFocus);
    EXPECT_EQ(device->exposureMode(), ExposureMode::AutoExpose);
    EXPECT_TRUE(device->isSubjectAreaChangeMonitoringEnabled());

    device->simulateSubjectAreaChange();
    app.drainSessionQueue();
    EXPECT_TRUE(app.logged("subject area did change"));
    EXPECT_EQ(device->focusMode(), FocusMode::ContinuousAutoFocus);
    EXPECT_EQ(device->exposureMode(), ExposureMode::ContinuousAutoExposure);
    EXPECT_EQ(device->focusPointOfInterest(), (DevicePoint{0.5, 0.5}));
    EXPECT_FALSE(device->isSubjectAreaChangeMonitoringEnabled());
}

TEST(PelmarRecorderControlsTest, AfterASwitchOnlyTheNewCameraIsWatchedAndItsFlashIsAuto) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto back = app.recorder->session()->videoDevice();
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->cameraDevice == CameraDevice::front; }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    back->simulateSubjectAreaChange();
    app.drainSessionQueue();
    EXPECT_FALSE(app.logged("subject area did change"));
    app.recorder->session()->videoDevice()->simulateSubjectAreaChange();
    app.drainSessionQueue();
    EXPECT_TRUE(app.logged("subject area did change"));

    // Back again: the back camera has a flash, set to auto by the switch.
    back->setFlashMode(av::FlashMode::Off);
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->cameraDevice == CameraDevice::rear; }));
    app.drainSessionQueue();
    EXPECT_EQ(back->flashMode(), av::FlashMode::Auto);
}

TEST(PelmarRecorderControlsTest, ACameraSwitchWithoutASecondCameraKeepsTheCameraAndTheButtons) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    auto before = app.recorder->session()->videoDevice();
    app.devices().failDeviceInput(MediaType::Video);
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_EQ(app.recorder->session()->videoDevice(), before);
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
}

TEST(PelmarRecorderControlsTest, ClosingTheScreenStopsTheCountdownForGood) {
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

TEST(PelmarRecorderControlsTest, ARefusedCameraSwitchKeepsTheOldCamera) {
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

TEST(PelmarRecorderControlsTest, HiddenControlsTakeNoTaps) {
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

TEST(PelmarRecorderControlsTest, TappingTheBlurSwitchSwapsThePreviews) {
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

}  // namespace
}  // namespace pelmar
