#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "testing/App.h"

// The steps the camera screens' test Apps share, for any recorder with a session queue, a
// capture session and handled-sample counts. Threads: main thread only. Errors: the steps fail
// the test (ASSERT) when what they wait for does not happen.

namespace pelmar::test {

// Back and front cameras, a microphone, both permissions granted.
inline void addStandardCaptureDevices(App& app) {
    app.devices().addBackCamera().addFrontCamera().addMicrophone();
    app.permissions().grant(av::MediaType::Video).grant(av::MediaType::Audio);
}

// The session's output of kind `Output`, or null.
template <class Output>
std::shared_ptr<Output> captureOutputOf(const av::CaptureSession& session) {
    for (const auto& output : session.outputs()) {
        if (auto found = std::dynamic_pointer_cast<Output>(output)) {
            return found;
        }
    }
    return nullptr;
}

// Runs the main loop until the recorder's session queue has handled everything queued so far.
template <class Recorder>
void drainRecorderSessionQueue(App& app, Recorder& recorder) {
    // Twice: samples are handled one turn after their delivery.
    for (int i = 0; i < 2; ++i) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        recorder.sessionQueue()->async([done] { done->store(true); });
        ASSERT_TRUE(app.runUntil([&] { return done->load(); }, 30));
    }
}

// Presents `recorder` full-screen over the root and lets the set-up run as far as it can.
template <class Recorder>
void presentRecorder(App& app, const std::shared_ptr<Recorder>& recorder) {
    app.root()->present(recorder, true);
    dispatch::RunLoop::runUntilIdle();
    if (!recorder->sessionQueue()->isSuspended()) {
        drainRecorderSessionQueue(app, *recorder);
    }
    dispatch::RunLoop::runUntilIdle();
}

// The session runs on its own queue: stopped and drained before the screen goes.
template <class Recorder>
void stopRecorderSession(App& app, Recorder& recorder) {
    if (auto session = recorder.session()) {
        session->stopRunning();
    }
    drainRecorderSessionQueue(app, recorder);
    app.settle();
}

// Samples the synthetic devices have made by `now`, counted from the clock at 0 where they
// started: camera frame k is made at k / fps, a microphone buffer once its 1024 frames are in.
struct CaptureCounts {
    int64_t frames = 0;
    int64_t buffers = 0;
};

inline CaptureCounts samplesMadeBy(App& app, double now) {
    return {static_cast<int64_t>(std::floor(now * app.devices().frameRate() + 1e-6)) + 1,
            static_cast<int64_t>(
                    std::floor(now * app.devices().microphoneSampleRate() / 1024 + 1e-6))};
}

// Whether the recorder has handled every sample made by `now` but the `missed` ones, with no
// writer work pending, and `settled`, when given, holds.
template <class Recorder>
::testing::AssertionResult samplesDueHandled(App& app,
                                             Recorder& recorder,
                                             double now,
                                             CaptureCounts missed,
                                             const std::function<bool()>& settled) {
    const CaptureCounts made = samplesMadeBy(app, now);
    const int64_t frames = made.frames - missed.frames;
    const int64_t buffers = made.buffers - missed.buffers;
    const bool handled = app.runUntil(
            [&] {
                // Encoding takes no clock time: the writers finish before it moves.
                return recorder.handledVideoSamples() >= frames
                       && recorder.handledAudioSamples() >= buffers
                       && av::AssetWriter::pendingWorkInAllWriters() == 0
                       && (!settled || settled());
            },
            30);
    if (handled) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "at " << now << " s: " << recorder.handledVideoSamples() << " of " << frames
           << " frames and " << recorder.handledAudioSamples() << " of " << buffers
           << " sound buffers handled, " << av::AssetWriter::pendingWorkInAllWriters()
           << " pieces of writer work pending";
}

// Moves the clock `seconds` forward in frame steps, letting the recorder handle every sample
// the synthetic devices make at each step (and `settled`, when given, hold). The session must
// have started with the clock at 0. `reached` hears the clock's time at each step.
template <class Recorder>
void advanceRecorderCapture(App& app,
                            Recorder& recorder,
                            double seconds,
                            const std::function<bool()>& settled,
                            const std::function<void(double)>& reached) {
    // First what the devices owe by now is handed over and handled: a frame still waiting when
    // the clock moves is late, and the camera would drop the next one. Frames it dropped before
    // (a transition moved the clock while one waited) are not owed.
    recorder.session()->pumpDevices();
    drainRecorderSessionQueue(app, recorder);
    ASSERT_TRUE(app.runUntil([] { return av::AssetWriter::pendingWorkInAllWriters() == 0; }, 30));
    const CaptureCounts before = samplesMadeBy(app, app.clock().now());
    const CaptureCounts missed{
            std::max<int64_t>(0, before.frames - recorder.handledVideoSamples()),
            std::max<int64_t>(0, before.buffers - recorder.handledAudioSamples())};
    constexpr double kStep = 1.0 / 30;
    const int steps = static_cast<int>(std::llround(seconds / kStep));
    for (int i = 0; i < steps; ++i) {
        app.advance(kStep);
        const double now = app.clock().now();
        if (reached) {
            reached(now);
        }
        recorder.session()->pumpDevices();
        ASSERT_TRUE(samplesDueHandled(app, recorder, now, missed, settled));
    }
    drainRecorderSessionQueue(app, recorder);
    dispatch::RunLoop::runUntilIdle();
}

}  // namespace pelmar::test
