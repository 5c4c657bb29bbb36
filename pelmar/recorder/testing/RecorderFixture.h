#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/recorder/PelmarRecorder.h"

namespace pelmar::test {

// Writes every recorder and sensor delegate call as a line ("ready", "started", "stopped <path>",
// "countdown 2", "lux 1.5", ...).
class RecorderEvents : public PelmarRecorderDelegate, public PelmarSensorDelegate {
public:
    void recorderReady() override { add("ready"); }

    void recorderCountdown(int64_t secondsLeft) override {
        add("countdown " + std::to_string(secondsLeft));
    }

    void recorderStarted() override { add("started"); }

    void recorderStopped(const std::string& path) override {
        std::lock_guard lock(mutex_);
        events_.push_back("stopped");
        stoppedPath_ = path;
    }

    void recorderManuallySubmitted() override { add("submitted"); }

    void recorderCancelledByUser() override { add("cancelled"); }

    void luxMeter(double brightness) override {
        std::lock_guard lock(mutex_);
        lux_.push_back(brightness);
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    bool has(const std::string& event) const;

    std::optional<std::string> stoppedPath() const {
        std::lock_guard lock(mutex_);
        return stoppedPath_;
    }

    std::vector<double> lux() const {
        std::lock_guard lock(mutex_);
        return lux_;
    }

private:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;         // guarded by mutex_
    std::optional<std::string> stoppedPath_;  // guarded by mutex_
    std::vector<double> lux_;                 // guarded by mutex_
};

// RecorderFixture: a headless app for camera-screen tests: a fresh sandbox, a manual clock, a
// key window with a root screen, a facade (debug logs on, log lines captured) whose recorder and
// sensor delegates record every call, and a synthetic capture environment reset for each test.
// Ownership: owns everything it makes; tears the recorder down before the main loop.
// Threads: main thread only.
// Errors: helpers fail the test (ASSERT) when what they wait for does not happen.
class RecorderFixture : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    av::CaptureEnvironment& env() { return av::CaptureEnvironment::shared(); }

    // Back and front cameras, a microphone, both permissions granted.
    void standardDevices();

    std::shared_ptr<PelmarRecorder> makeRecorder();

    // Presents `recorder_` full-screen over the root and waits for the set-up to settle.
    void present();

    // Runs the main loop until the session queue has handled everything queued so far.
    void drainSessionQueue();

    // Presents and waits until the record button is enabled.
    void presentAndWaitUntilReady();

    // Taps record and waits until a recording is under way (or, `expectStart` false, until the
    // session queue settled).
    void startRecording();

    void stopRecordingAndWait();

    // Moves the clock `seconds` forward in frame steps, letting the pipeline handle every
    // sample made by the synthetic devices at each step. The session must have started with
    // the clock at 0.
    void advanceCapture(double seconds);

    // The alert on top of the screen chain, if one is shown.
    std::shared_ptr<ui::AlertController> shownAlert();

    bool logged(const std::string& text) const { return logs_.contains(text); }

    int loggedCount(const std::string& line) const;

    pelmar::test::TempSandbox sandbox_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::ViewController> root_;
    std::shared_ptr<Pelmar> pelmar_;
    std::shared_ptr<RecorderEvents> events_;
    std::shared_ptr<PelmarRecorder> recorder_;
    foundation::Log::Capture logs_;
    double captured_ = 0;  // seconds the synthetic devices have run under advanceCapture
    // Also waited for after each step of advanceCapture, when set.
    std::function<bool()> settled_;
};

}  // namespace pelmar::test
