#pragma once

#include <cstdint>
#include <string>

// PelmarRecorderDelegate: what the host app hears from the video and audio recorders. Optional
// methods.
// Ownership: held strongly by the facade.
// Threads: ready, countdown, elapsed duration, rerecord and cancel on the main queue; started on
//     the recorder's session queue; manually-submitted and stopped where the movie file is
//     finished. Implementations must be thread-safe.
// Errors: none.

namespace pelmar {

class PelmarRecorderDelegate {
public:
    virtual ~PelmarRecorderDelegate() = default;

    virtual void recorderReady() {}

    virtual void recorderCountdown(int64_t /*secondsLeft*/) {}

    virtual void recorderStarted() {}

    virtual void recorderCurrentRecordedDurationSeconds(double /*seconds*/) {}

    virtual void recorderPaused() {}

    // The path of the finished recording.
    virtual void recorderStopped(const std::string& /*path*/) {}

    virtual void recorderRerecord() {}

    virtual void recorderPlaying() {}

    virtual void recorderManuallySubmitted() {}

    virtual void streamingStarted() {}

    virtual void streamingStopped() {}

    virtual void recorderCancelledByUser() {}
};

}  // namespace pelmar
