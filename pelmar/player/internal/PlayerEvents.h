#pragma once

#include <functional>
#include <memory>
#include <string>

#include "pelmar/core/PelmarPlayerDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

// PlayerEvents: what the player tells its delegate: ready, playing, seek, paused and ended, each
// only when its text differs from the event told before ("pelmarPlayerReadyToPlay",
// "pelmarPlayerPlaying", "pelmarPlayerSeek:<seconds>", "pelmarPlayerPaused",
// "pelmarPlayerEnded"). The delegate is asked for afresh for every event.
// Ownership: owned by its player; holds the delegate source (which must not own the player).
// Threads: thread-safe: the last event text is guarded by a mutex, and the delegate is called
//     with no lock held, on the reporting thread.
// Errors: none.

namespace pelmar::player::internal {

class PlayerEvents {
public:
    using DelegateSource = std::function<std::shared_ptr<PelmarPlayerDelegate>()>;

    // The player's time-control states, by raw value.
    static constexpr int kPaused = 0;
    static constexpr int kWaiting = 1;
    static constexpr int kPlaying = 2;

    explicit PlayerEvents(DelegateSource delegate) : delegate_(std::move(delegate)) {}

    void readyToPlay();

    // Playing (2), paused (0), or a seek (1, waiting to play) at `currentSeconds`, rounded to
    // hundredths. Other values tell nothing.
    void timeControlStatus(int status, double currentSeconds);

    void ended();

    std::string beforeEvent() const;

private:
    // Stores `text` and answers true unless it is the last event told.
    bool changeTo(const std::string& text);

    const DelegateSource delegate_;
    mutable Mutex mutex_;
    std::string beforeEvent_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::player::internal
