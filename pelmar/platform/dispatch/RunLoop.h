#pragma once

#include <cstddef>
#include <functional>

namespace pelmar::dispatch {

// RunLoop: drives the main queue on the main thread. A host app pumps it from its own loop; tests
// pump it to wait for work (runUntil) and to move a manual clock with timers firing in time order
// (advance). Timers (Timer) and main-queue delayed blocks fire from this loop.
// Ownership: static functions over the process-wide main queue.
// Threads: main thread only. The first thread that calls any of these becomes the main thread; a
//     call from another thread afterwards aborts with a message. Calls may nest (a block may pump
//     the loop). Uses the main queue's leaf mutex only; blocks run with no lock held.
// Errors: an exception thrown by a block leaves the call that ran it (the block is gone, the rest
//     stay queued). Throws std::invalid_argument for a NaN or negative duration, and for an
//     infinite one while a manual clock is installed (advance, runFor).
class RunLoop {
public:
    // Default safety-net timeout of runUntil, in real seconds.
    static constexpr double kDefaultTimeoutSeconds = 10.0;

    // runUntil re-checks its predicate at least this often (real seconds), so a predicate that a
    // background thread satisfies without posting to the main queue is still seen promptly.
    static constexpr double kPredicatePollSeconds = 0.01;

    // Turns runUntilIdle runs at most, so that a block that keeps re-posting itself cannot hang
    // the caller.
    static constexpr std::size_t kMaxIdleTurns = 100'000;

    RunLoop() = delete;

    // One turn: runs the blocks queued when it starts (blocks they post wait for the next turn).
    // Returns whether any ran. Never waits.
    static bool runOnce();

    // Runs turns until the queue is empty (or kMaxIdleTurns); returns how many blocks ran.
    static std::size_t runUntilIdle();

    // Runs the loop until `predicate` holds or `timeoutSeconds` of real time pass (the timeout
    // never moves the clock). Returns the predicate's last value. The predicate runs on the main
    // thread between turns.
    static bool runUntil(const std::function<bool()>& predicate,
                         double timeoutSeconds = kDefaultTimeoutSeconds);

    // Runs the loop while the clock moves `seconds` forward: real time for a real clock; with a
    // manual clock this is advance(seconds).
    static void runFor(double seconds);

    // With a manual clock installed: moves it forward `seconds` in steps, stopping at every
    // pending deadline in time order to fire it and run the main queue until idle, so timers and
    // delayed blocks see the clock at their own time. Work on other queues is posted when due but
    // runs on its own threads. With a real clock: runFor(seconds).
    static void advance(double seconds);

    // Makes a waiting runUntil/runFor re-check at once. Thread-safe.
    static void wakeUp();

    // Whether the calling thread may run the loop without aborting: it is the main thread, or
    // no thread has run the loop yet (the caller would become the main thread). Thread-safe; a
    // snapshot when several threads race to run the loop first.
    static bool mayRunOnThisThread();
};

}  // namespace pelmar::dispatch
