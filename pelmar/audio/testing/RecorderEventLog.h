#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/core/PelmarRecorderDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::test {

// RecorderEventLog: a recorder delegate that writes each call as a line ("ready", "started",
// "duration 2", "paused", "stopped <path>", "rerecord", "playing", "submitted", "cancelled").
// Ownership: held by shared_ptr by whoever it listens to.
// Threads: thread-safe.
// Errors: none.
class RecorderEventLog : public PelmarRecorderDelegate {
public:
    void recorderReady() override { add("ready"); }

    void recorderStarted() override { add("started"); }

    void recorderCurrentRecordedDurationSeconds(double seconds) override {
        std::ostringstream text;
        text << "duration " << seconds;
        add(text.str());
    }

    void recorderPaused() override { add("paused"); }

    void recorderStopped(const std::string& path) override { add("stopped " + path); }

    void recorderRerecord() override { add("rerecord"); }

    void recorderPlaying() override { add("playing"); }

    void recorderManuallySubmitted() override { add("submitted"); }

    void recorderCancelledByUser() override { add("cancelled"); }

    // The lines since the last call.
    std::vector<std::string> take() {
        MutexLock lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    void add(std::string event) {
        MutexLock lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable Mutex mutex_;
    std::vector<std::string> events_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::test
