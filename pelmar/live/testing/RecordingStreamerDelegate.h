#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "pelmar/live/LiveStreamerDelegate.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Patience.h"

// RecordingStreamerDelegate: records what reaches a LiveStreamer's delegate, in order, and lets a
// test wait for it (for up to 20 s) instead of sleeping.
// Ownership: plain object, held by shared_ptr as the streamer's delegate.
// Threads: thread-safe; the streamer calls it from its receiver thread and from the test's.
// Errors: the waits return false when their event does not come in time.

namespace pelmar::test {

class RecordingStreamerDelegate : public live::LiveStreamerDelegate {
public:
    void onError(const std::string& message) override {
        MutexLock lock(mutex_);
        errors_.push_back(message);
        events_.push_back("onError(" + message + ")");
        changed_.notifyAll();
    }

    void onPublishStart() override {
        MutexLock lock(mutex_);
        ++starts_;
        events_.emplace_back("onPublishStart");
        changed_.notifyAll();
    }

    void onPublishStop() override {
        MutexLock lock(mutex_);
        ++stops_;
        events_.emplace_back("onPublishStop");
        changed_.notifyAll();
    }

    std::vector<std::string> errors() const {
        MutexLock lock(mutex_);
        return errors_;
    }

    // Every call, as "onError(<message>)", "onPublishStart" or "onPublishStop".
    std::vector<std::string> events() const {
        MutexLock lock(mutex_);
        return events_;
    }

    int starts() const {
        MutexLock lock(mutex_);
        return starts_;
    }

    int stops() const {
        MutexLock lock(mutex_);
        return stops_;
    }

    bool waitForStart() {
        MutexLock lock(mutex_);
        return waitUntil([this]() PELMAR_NO_THREAD_SAFETY_ANALYSIS { return starts_ > 0; });
    }

    // True once some error contains `text` (any error when empty).
    bool waitForError(const std::string& text = "") {
        MutexLock lock(mutex_);
        return waitUntil([&]() PELMAR_NO_THREAD_SAFETY_ANALYSIS {
            return std::any_of(errors_.begin(), errors_.end(), [&](const std::string& e) {
                return e.find(text) != std::string::npos;
            });
        });
    }

private:
    template <typename Done>
    bool waitUntil(Done done) PELMAR_REQUIRES(mutex_) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!done()) {
            if (!changed_.waitUntil(mutex_, deadline)) {
                return done();
            }
        }
        return true;
    }

    mutable Mutex mutex_;
    CondVar changed_;
    std::vector<std::string> errors_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::string> events_ PELMAR_GUARDED_BY(mutex_);
    int starts_ PELMAR_GUARDED_BY(mutex_) = 0;
    int stops_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::test
