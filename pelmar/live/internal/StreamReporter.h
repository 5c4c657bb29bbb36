#pragma once

#include <memory>
#include <string>
#include <utility>

#include "pelmar/live/LiveStreamerDelegate.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/sync/Mutex.h"

// StreamReporter: passes a LiveStreamer's events to its delegate: the log line and onError for
// failures, onPublishStart and onPublishStop. The RTMP client's callbacks hold it, so they never
// keep the streamer itself alive on the receiver thread.
// Ownership: shared by the streamer and the client's callbacks; refers to the delegate weakly.
// Threads: thread-safe; mutex_ guards only the delegate pointer and is released before any call
//          out.
// Errors: none.

namespace pelmar::live::internal {

class StreamReporter {
public:
    std::shared_ptr<LiveStreamerDelegate> delegate() const {
        MutexLock lock(mutex_);
        return delegate_.lock();
    }

    void setDelegate(std::weak_ptr<LiveStreamerDelegate> delegate) {
        MutexLock lock(mutex_);
        delegate_ = std::move(delegate);
    }

    // Logs `message`, then hands it to the delegate.
    void error(const std::string& message) const {
        foundation::Log::write(message);
        if (auto target = delegate()) {
            target->onError(message);
        }
    }

    void publishStarted() const {
        if (auto target = delegate()) {
            target->onPublishStart();
        }
    }

    void publishStopped() const {
        if (auto target = delegate()) {
            target->onPublishStop();
        }
    }

private:
    mutable Mutex mutex_;
    std::weak_ptr<LiveStreamerDelegate> delegate_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::live::internal
