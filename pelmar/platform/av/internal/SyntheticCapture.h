#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/av/MicrophoneSignal.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {
class CaptureSession;
}

namespace pelmar::av::internal {

// SyntheticCapture: the devices of one running session: makes every camera frame and microphone
// buffer that is due on the installed clock and hands them to the session's outputs.
// Ownership: held by its session; refers to the session weakly; its ticks hold it weakly.
// Threads: thread-safe; ticks run on a private serial queue. stop() returns once no tick runs.
// Errors: none.
class SyntheticCapture : public std::enable_shared_from_this<SyntheticCapture> {
public:
    explicit SyntheticCapture(std::weak_ptr<CaptureSession> session);

    void start();

    void stop();

    // Catches up with the clock at once (instead of at the next deadline): returns once what is
    // due has been handed to the outputs (or dropped by them). Not from the devices' own queue.
    void pump();

    // Draws frame `index` of the test pattern into `buffer` (BGRA), mirrored if asked.
    static void drawTestPattern(media::PixelBuffer& buffer, int64_t index, bool mirrored);

    // Camera frame `index` as the camera makes it: a copy of the environment's camera image when
    // one is set, else the test pattern at the preset's size (portrait orientations swap width
    // and height), mirrored if asked.
    static std::shared_ptr<media::PixelBuffer> makeFrame(SessionPreset preset,
                                                         VideoOrientation orientation,
                                                         bool mirrored,
                                                         int64_t index);

private:
    // `fromDeadline`: run by the armed deadline (which it then re-arms).
    void tick(bool fromDeadline);

    const std::weak_ptr<CaptureSession> session_;
    const std::shared_ptr<dispatch::Queue> queue_;
    std::atomic<bool> running_{false};
    std::atomic<bool> armed_{false};  // a deadline tick is scheduled
    Mutex tickMutex_;                 // held while a tick runs; stop() takes it to wait for one
    double start_ PELMAR_GUARDED_BY(tickMutex_) = 0;
    int64_t frames_ PELMAR_GUARDED_BY(tickMutex_) = 0;
    int64_t audioSamples_ PELMAR_GUARDED_BY(tickMutex_) = 0;
    // What the microphone hears: the environment's scripted signal, made again when the script,
    // the rate or the channel count changes.
    std::unique_ptr<MicrophoneRenderer> microphone_ PELMAR_GUARDED_BY(tickMutex_);
    MicrophoneSignal microphoneSignal_ PELMAR_GUARDED_BY(tickMutex_);
    double microphoneRate_ PELMAR_GUARDED_BY(tickMutex_) = 0;
    int microphoneChannels_ PELMAR_GUARDED_BY(tickMutex_) = 0;
};

}  // namespace pelmar::av::internal
