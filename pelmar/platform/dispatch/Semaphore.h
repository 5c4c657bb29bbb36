#pragma once

#include <cstdint>
#include <memory>

namespace pelmar::dispatch {

// Semaphore: a counting semaphore whose waiters are served strictly first come, first served:
// signal() hands its unit to the longest-waiting thread, and a new wait() never overtakes a thread
// already waiting.
// Ownership: plain object, not copyable. Timed waits share its state with the timekeeper, so a
//     deadline firing late never touches a destroyed semaphore; destroying it while threads wait is
//     a programming error (they keep waiting).
// Threads: thread-safe. Locking: one mutex of its own, a leaf (see Queue.h); no callback runs while
//     it is held.
// Errors: throws std::invalid_argument for a negative count or a NaN timeout.
class Semaphore {
public:
    explicit Semaphore(std::int64_t count = 0);
    ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Blocks until a unit is available to this thread.
    void wait();

    // As wait(), giving up once `seconds` have passed on the installed clock (so a manual clock
    // must be moved for it to time out). Returns whether a unit was taken. `seconds` <= 0 only
    // tries; +infinity waits forever.
    [[nodiscard]] bool waitFor(double seconds);

    // Returns a unit: wakes the longest-waiting thread if any. Returns whether one was woken.
    bool signal();

    // Threads blocked in wait()/waitFor() right now (for diagnostics and tests).
    std::int64_t waitingCount() const;

private:
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace pelmar::dispatch
