#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/sync/Mutex.h"

// LateGate: the one rule by which real-time producers (camera outputs, the background blur, the
// movie writer) tell late work from work the consumer simply has not reached yet: work takes no
// time on the clock. Work handed over at the clock instant now is never late; work still waiting
// from an earlier instant means the consumer had time to finish it and did not, so a new item is
// late and is dropped. Under the steady clock every item comes at a new instant, so a busy consumer
// drops the next one; under a manual clock, items made at one instant (a clock jump) queue up to
// the capacity, and a consumer still busy when the clock moves drops work the same way. No caller
// needs to know which clock is installed.
// Ownership: a value member of the producer.
// Threads: thread-safe.
// Errors: none.
// Limits: at most `capacity` items in flight.

namespace pelmar::dispatch {

class LateGate {
public:
    explicit LateGate(std::size_t capacity) : capacity_(capacity) {}

    LateGate(const LateGate&) = delete;
    LateGate& operator=(const LateGate&) = delete;

    // Admits one item, or returns false when it is late (see above) or the gate is full.
    [[nodiscard]] bool tryAdmit();

    // The oldest admitted item is done.
    void finish();

    std::size_t inFlight() const;

private:
    const std::size_t capacity_;
    mutable Mutex mutex_;
    std::deque<double> admittedAt_ PELMAR_GUARDED_BY(mutex_);
};

namespace internal {

// The loop shared by both waitWhileClockStands overloads; `waitSlice` waits a few milliseconds
// on the caller's condition.
template <typename Predicate, typename WaitSlice>
bool waitWhileClockStandsWith(Predicate& ready, WaitSlice waitSlice, double realLimit) {
    const double instant = clock().now();
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(realLimit));
    while (!ready() && clock().now() == instant && std::chrono::steady_clock::now() < deadline) {
        // Short slices: whoever moves the clock does not notify the condition.
        waitSlice();
    }
    return ready();
}

}  // namespace internal

// For a producer that may block: waits while `ready` is false and the clock stands where it
// stood on entry (work handed over at this instant takes no clock time, so the producer waits
// for it rather than calling it late), for at most `realLimit` seconds of real time. Returns
// ready(). Under the steady clock time always moves, so it does not wait. `lock` holds the mutex
// that `changed` is notified under.
template <typename Lock, typename Condition, typename Predicate>
bool waitWhileClockStands(Lock& lock, Condition& changed, Predicate ready, double realLimit) {
    return internal::waitWhileClockStandsWith(
            ready, [&] { changed.wait_for(lock, std::chrono::milliseconds(5)); }, realLimit);
}

// As above for a pelmar::Mutex held by the caller. `ready` runs with `mutex` held; a lambda that
// reads members guarded by it is marked PELMAR_NO_THREAD_SAFETY_ANALYSIS, since the analysis
// cannot follow the lock into it.
template <typename Predicate>
bool waitWhileClockStands(Mutex& mutex, CondVar& changed, Predicate ready, double realLimit)
        PELMAR_REQUIRES(mutex) {
    // Runs with `mutex` held, as this function requires.
    auto waitSlice = [&]() PELMAR_NO_THREAD_SAFETY_ANALYSIS {
        changed.waitFor(mutex, std::chrono::milliseconds(5));
    };
    return internal::waitWhileClockStandsWith(ready, waitSlice, realLimit);
}

}  // namespace pelmar::dispatch
