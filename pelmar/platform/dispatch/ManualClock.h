#pragma once

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {

// ManualClock: a clock for tests whose time moves only when the test moves it. Wall time moves
// together with monotonic time unless set on its own.
// Ownership: made with std::make_shared and installed with setClock().
// Threads: thread-safe. Moving an installed clock fires the deadlines that became due (posting
//     timer fires and delayed blocks to their queues, ending timed waits) on the calling thread. To
//     run main-queue work in time order while time moves, use RunLoop::advance() instead. Locking:
//     one leaf mutex; deadlines fire after it is released (the timekeeper may read the clock under
//     its own lock).
// Errors: throws std::invalid_argument for a negative or non-finite step and for moving monotonic
//     time backwards.
class ManualClock final : public Clock {
public:
    // 2023-11-14 22:13:20 UTC: a fixed, recognisable wall time so that tests are repeatable.
    static constexpr double kDefaultWallStart = 1'700'000'000.0;

    explicit ManualClock(double start = 0.0, double wallStart = kDefaultWallStart);

    double now() const override;

    double wallNow() const override;

    bool isManual() const override { return true; }

    // Moves monotonic and wall time forward by `seconds` in one step.
    void advance(double seconds);

    // Moves monotonic time to `seconds` (not earlier than now()); wall time follows.
    void setNow(double seconds);

    // Sets wall time; it may jump either way. Monotonic time does not move.
    void setWallNow(double seconds);

private:
    mutable Mutex mutex_;
    double now_ PELMAR_GUARDED_BY(mutex_);
    double wall_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::dispatch
