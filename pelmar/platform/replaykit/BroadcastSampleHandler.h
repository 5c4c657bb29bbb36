#pragma once

#include <memory>
#include <optional>

#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/media/SampleBuffer.h"

namespace pelmar::replaykit {

// The kinds of sample buffer a broadcast delivers. Other values are a program error.
enum class SampleBufferType : int {
    Video = 1,     // a picture of the screen
    AudioApp = 2,  // the sound the app plays
    AudioMic = 3,  // the microphone
};

// BroadcastSampleHandler: the base of a broadcast extension's principal class. The broadcast host
// creates one per broadcast, tells it when the broadcast starts, pauses, resumes and finishes,
// and hands it every sample buffer with its type. Each operation's default does nothing.
// Ownership: made and held by the broadcast host (a test stands in for it).
// Threads: thread-compatible: the host calls one operation at a time, on threads of its own;
//     broadcastFinished() may block until the recording has been handed over.
// Errors: none at this level.
class BroadcastSampleHandler {
public:
    BroadcastSampleHandler() = default;
    virtual ~BroadcastSampleHandler() = default;

    BroadcastSampleHandler(const BroadcastSampleHandler&) = delete;
    BroadcastSampleHandler& operator=(const BroadcastSampleHandler&) = delete;

    // `setupInfo`: what the broadcast's set-up screen gave, if it had one.
    virtual void broadcastStarted(const std::optional<Json>& /*setupInfo*/) {}

    virtual void broadcastPaused() {}

    virtual void broadcastResumed() {}

    virtual void broadcastFinished() {}

    virtual void processSampleBuffer(const std::shared_ptr<const media::SampleBuffer>& /*sample*/,
                                     SampleBufferType /*type*/) {}
};

}  // namespace pelmar::replaykit
