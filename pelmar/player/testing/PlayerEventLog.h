#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "pelmar/core/PelmarPlayerDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::test {

// PlayerEventLog: a player delegate that writes each call as a line ("ready", "playing",
// "paused", "seek 4.01", "ended", "cancelled").
// Ownership: held by shared_ptr by whoever it listens to.
// Threads: thread-safe.
// Errors: none.
class PlayerEventLog : public PelmarPlayerDelegate {
public:
    void playerPlaying() override { add("playing"); }

    void playerPaused() override { add("paused"); }

    void playerEnded() override { add("ended"); }

    void playerSeek(double seconds) override {
        std::ostringstream text;
        text << "seek " << seconds;
        add(text.str());
    }

    void playerReadyToPlay() override { add("ready"); }

    void playerCancelledByUser() override { add("cancelled"); }

    std::vector<std::string> events() const {
        MutexLock lock(mutex_);
        return events_;
    }

    bool has(const std::string& event) const {
        MutexLock lock(mutex_);
        for (const auto& e : events_) {
            if (e == event) {
                return true;
            }
        }
        return false;
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
