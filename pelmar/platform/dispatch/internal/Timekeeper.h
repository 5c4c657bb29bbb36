#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch::internal {

// Timekeeper: holds the installed clock and every pending deadline of the process (delayed blocks,
// timer fires, timed waits) and runs each deadline's action once the clock reaches it.
// Ownership: one process-wide instance that is never destroyed; it owns the actions until they run
//     or are cancelled, and one timer thread, joined at process exit.
// Threads: thread-safe. Actions run without any lock held, in deadline order, on the timer thread
//     (real clocks) or on the thread that moves a manual clock; they must be short and never block.
//     Lock order: mutex_ may be held while reading the clock (the clock's own lock is a leaf).
// Errors: none; an infinite deadline is never scheduled (schedule returns 0).
class Timekeeper {
public:
    using Id = std::uint64_t;

    // Which run loop a deadline belongs to; test resets drop the main loop's deadlines only.
    enum class Target { Background, Main };

    // Deadlines closer than this to the current time count as due, so that sums of binary
    // fractions (0.1 + 0.1 + 0.1) meet the instant they were meant for.
    static constexpr double kEpsilon = 1e-9;

    static Timekeeper& instance();

    Timekeeper(const Timekeeper&) = delete;
    Timekeeper& operator=(const Timekeeper&) = delete;

    std::shared_ptr<Clock> clock() const;

    void setClock(std::shared_ptr<Clock> newClock);

    // `delay` in seconds from now on the installed clock; negative counts as 0. A deadline that is
    // already due fires before this returns.
    Id scheduleAfter(double delay, std::function<void()> action, Target target);

    // `deadline` in seconds on the installed clock (see deadlineAfter).
    Id scheduleAt(double deadline, std::function<void()> action, Target target);

    // The installed clock's time `delay` seconds from now (negative counts as 0).
    double deadlineAfter(double delay) const;

    // Drops a pending deadline; its action may already be running on another thread.
    void cancel(Id id);

    void cancelAll(Target target);

    // Runs every due action, provided `source` is the installed clock (null: whatever is
    // installed).
    void fireDue(const Clock* source) PELMAR_EXCLUDES(mutex_);

    std::optional<double> nextDeadline() const;

    std::size_t pendingCount() const;

    // Stops and joins the timer thread; later deadlines fire only from a manual clock.
    void shutdown();

private:
    struct Entry {
        std::function<void()> action;
        Target target;
    };

    using Key = std::pair<double, Id>;

    Timekeeper();

    void threadMain() PELMAR_EXCLUDES(mutex_);

    std::map<Key, Entry> takeDueLocked(double now) PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    CondVar wakeUp_;
    std::shared_ptr<Clock> clock_ PELMAR_GUARDED_BY(mutex_);
    std::map<Key, Entry> entries_ PELMAR_GUARDED_BY(mutex_);
    std::unordered_map<Id, double> deadlineOf_ PELMAR_GUARDED_BY(mutex_);
    Id nextId_ PELMAR_GUARDED_BY(mutex_) = 1;
    bool stopping_ PELMAR_GUARDED_BY(mutex_) = false;
    std::thread thread_;
};

}  // namespace pelmar::dispatch::internal
