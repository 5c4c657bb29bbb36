#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/core/Pelmar.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "testing/App.h"

namespace pelmar::test {

// CustomRecorderApp: a test App for the custom recorder, driven as a host app drives it: helpers
// make and present the recorder, feed its outputs by hand or let the synthetic devices run on
// the clock, and wait for its session queue.
// Ownership: owns the recorder it makes; stops the recorder's session and lets its queue finish
// before the App closes.
// Threads: main thread only.
// Errors: helpers fail the test (ASSERT) when what they wait for does not happen.
class CustomRecorderApp : public App {
public:
    ~CustomRecorderApp();

    // Back and front cameras, a microphone, both permissions granted.
    void standardDevices();

    // A recorder of `facade` (the App's own by default).
    std::shared_ptr<CustomVideoRecorder> makeRecorder(std::shared_ptr<Pelmar> facade = nullptr);

    // Presents the recorder (made if needed) full-screen over the root and lets the set-up run
    // as far as it can.
    void present();

    // Presents and waits until the session runs and the record button is enabled.
    void presentAndWaitUntilReady();

    // Runs the main loop until the session queue has handled everything queued so far.
    void drainSessionQueue();

    // Calls startRecording() and waits until the recording is under way.
    void startRecording();

    std::shared_ptr<av::CaptureVideoDataOutput> videoOutput() const;

    std::shared_ptr<av::CaptureAudioDataOutput> audioOutput() const;

    // Hands one 360 x 480 camera frame at `seconds` to the video output, or one sound buffer to
    // the audio output, and lets the session queue handle it.
    void feedFrame(int index, double seconds);

    void feedAudio(const std::shared_ptr<media::SampleBuffer>& sound);

    // Moves the clock `seconds` forward in frame steps, letting the recorder handle every sample
    // the synthetic devices make at each step. The session must have started with the clock at 0.
    void advanceCapture(double seconds);

    std::shared_ptr<CustomVideoRecorder> recorder;
};

}  // namespace pelmar::test
