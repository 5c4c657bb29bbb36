#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {

// Timer: a one-shot or repeating timer on the main run loop; its action runs on the main thread at
// the interval measured on the installed clock. A repeating timer that falls behind (a busy main
// thread) fires once, then keeps its original schedule, skipping the fires it missed.
// Ownership: made by scheduled() and returned as a shared handle; while valid, the run loop also
//     holds it, so dropping the handle does not stop it. invalidate() releases the action (and what
//     it captured); an action should capture its owner weakly or be invalidated by it.
// Threads: thread-safe; scheduled() and invalidate() from any thread. An invalidate() made on the
//     main thread guarantees no later fire; one made elsewhere may race with a fire in progress.
//     Locking: one mutex of its own, a leaf (see Queue.h); no callback runs while it is held.
// Errors: throws std::invalid_argument for a NaN interval or an empty action. Intervals below
//     kMinimumInterval are raised to it; an infinite interval never fires.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Action = std::function<void(Timer&)>;

    static constexpr double kMinimumInterval = 1e-4;

    // First fire `interval` seconds from now.
    static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Action action);

    static std::shared_ptr<Timer> scheduled(double interval,
                                            bool repeats,
                                            std::function<void()> action);

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer();

    // Stops the timer for good. Idempotent.
    void invalidate();

    bool isValid() const;

    double interval() const { return interval_; }

    bool repeats() const { return repeats_; }

private:
    struct Key {};

public:
    Timer(Key, double interval, bool repeats, Action action, std::uint64_t generation);

private:
    // Schedules the fire at start_ + index * interval_.
    void arm(std::uint64_t index) PELMAR_EXCLUDES(mutex_);

    void fire(std::uint64_t index) PELMAR_EXCLUDES(mutex_);

    const double interval_;
    const bool repeats_;
    const std::uint64_t generation_;  // main-loop generation it was made in
    const double start_;              // clock time it was scheduled at
    mutable Mutex mutex_;
    bool valid_ PELMAR_GUARDED_BY(mutex_) = true;
    std::shared_ptr<const Action> action_ PELMAR_GUARDED_BY(mutex_);  // null once invalid
    std::uint64_t deadlineId_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::dispatch
