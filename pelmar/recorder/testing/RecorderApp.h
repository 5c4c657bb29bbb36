#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "testing/App.h"

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
        pelmar::MutexLock lock(mutex_);
        events_.push_back("stopped");
        stoppedPath_ = path;
    }

    void recorderManuallySubmitted() override { add("submitted"); }

    void recorderCancelledByUser() override { add("cancelled"); }

    void audioMeter(double level) override {
        pelmar::MutexLock lock(mutex_);
        levels_.push_back(level);
    }

    void faceDetected(int64_t faceID, const FaceRect& rect) override {
        pelmar::MutexLock lock(mutex_);
        faces_.push_back({faceID, rect});
    }

    void recorderRerecord() override { add("rerecord"); }

    void luxMeter(double brightness) override {
        pelmar::MutexLock lock(mutex_);
        lux_.push_back(brightness);
    }

    std::vector<std::string> events() const {
        pelmar::MutexLock lock(mutex_);
        return events_;
    }

    bool has(const std::string& event) const;

    std::optional<std::string> stoppedPath() const {
        pelmar::MutexLock lock(mutex_);
        return stoppedPath_;
    }

    std::vector<double> levels() const {
        pelmar::MutexLock lock(mutex_);
        return levels_;
    }

    std::vector<std::pair<int64_t, FaceRect>> faces() const {
        pelmar::MutexLock lock(mutex_);
        return faces_;
    }

    std::vector<double> lux() const {
        pelmar::MutexLock lock(mutex_);
        return lux_;
    }

private:
    void add(std::string event) {
        pelmar::MutexLock lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable pelmar::Mutex mutex_;
    std::vector<std::string> events_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> stoppedPath_ PELMAR_GUARDED_BY(mutex_);
    std::vector<double> lux_ PELMAR_GUARDED_BY(mutex_);
    std::vector<double> levels_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::pair<int64_t, FaceRect>> faces_ PELMAR_GUARDED_BY(mutex_);
};

// RecorderApp: a test App for the camera screen: its facade's recorder and sensor delegates
// record every call, and helpers present the recorder and drive it as a user would.
// Ownership: owns the recorder it makes; stops the recorder's session and lets its queue finish
// before the App closes.
// Threads: main thread only.
// Errors: helpers fail the test (ASSERT) when what they wait for does not happen.
class RecorderApp : public App {
public:
    RecorderApp();
    ~RecorderApp();

    // Back and front cameras, a microphone, both permissions granted.
    void standardDevices();

    // A recorder of `facade` (the App's own by default).
    std::shared_ptr<PelmarRecorder> makeRecorder(std::shared_ptr<Pelmar> facade = nullptr);

    // Presents the recorder (made if needed) full-screen over the root and waits for the set-up
    // to settle.
    void present();

    // Runs the main loop until the session queue has handled everything queued so far.
    void drainSessionQueue();

    // Presents and waits until the record button is enabled.
    void presentAndWaitUntilReady();

    // Taps record and waits until a recording is under way.
    void startRecording();

    void stopRecordingAndWait();

    // Back and front cameras, a microphone and both permissions; the devices are fed by hand;
    // presented and ready.
    void readyWithManualFeed();

    std::shared_ptr<av::CaptureVideoDataOutput> videoOutput() const;

    std::shared_ptr<av::CaptureAudioDataOutput> audioOutput() const;

    // Hands one 360 x 480 camera frame at `seconds` (with an EXIF brightness of 1.25 when
    // `brightness`) to the video output and lets the session queue handle it.
    void feedFrame(int index, double seconds, bool brightness = true);

    // Hands one audio buffer to the audio output and lets the session queue handle it.
    void feedAudio(const std::shared_ptr<media::SampleBuffer>& sound);

    // Hands `faces` to the metadata output (delivered on the main queue).
    void deliverFaces(const std::vector<av::MetadataFaceObject>& faces);

    // Moves the clock `seconds` forward in frame steps, letting the pipeline handle every
    // sample made by the synthetic devices at each step. The session must have started with
    // the clock at 0.
    void advanceCapture(double seconds);

    std::shared_ptr<RecorderEvents> events = std::make_shared<RecorderEvents>();
    std::shared_ptr<PelmarRecorder> recorder;
    // Also waited for after each step of advanceCapture, when set.
    std::function<bool()> settled;

private:
    double captured_ = 0;  // seconds the synthetic devices have run under advanceCapture
};

}  // namespace pelmar::test
