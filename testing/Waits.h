#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "testing/Patience.h"

// How tests wait: until a condition holds (waitUntil), for a call made on another thread to
// return (BackgroundCall, returnsFromAnotherThread), and for a completion's result (Outcome).
// Every wait gives up after a patience, kPatience unless the caller passes one; at that deadline
// it answers false, or Outcome::get adds a test failure, so that a fault fails the test instead
// of hanging it. The deadline is a guard only: no test may rely on how long a wait took.
// Threads: waitUntil runs on the calling thread (main thread only when it runs the main loop);
//     BackgroundCall and Outcome are thread-safe.

namespace pelmar::test {

// What waitUntil does between two checks of its condition.
enum class WhileWaiting {
    // Sleeps a short step: for conditions that other threads make true. Any thread.
    Sleep,
    // Runs the main run loop (RunLoop::runUntil), so that blocks posted to the main queue run
    // while waiting; it still re-checks the condition at a short interval. Main thread only.
    RunMainLoop,
};

// Checks `condition` on the calling thread until it holds, doing `whileWaiting` in between.
// Returns its last value: false when it still does not hold once `patience` has passed.
template <class Condition>
[[nodiscard]] bool waitUntil(WhileWaiting whileWaiting,
                             Condition&& condition,
                             std::chrono::milliseconds patience = kPatience) {
    if (whileWaiting == WhileWaiting::RunMainLoop) {
        return dispatch::RunLoop::runUntil([&condition] { return static_cast<bool>(condition()); },
                                           std::chrono::duration<double>(patience).count());
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The same, sleeping in between (WhileWaiting::Sleep). Any thread.
template <class Condition>
[[nodiscard]] bool waitUntil(Condition&& condition,
                             std::chrono::milliseconds patience = kPatience) {
    return waitUntil(WhileWaiting::Sleep, std::forward<Condition>(condition), patience);
}

// BackgroundCall: makes one call on a thread of its own at once, so that a test can tell whether
// it returns: a call that waits for a lock the test's thread holds, or deadlocks, does not.
// Ownership: the call and what it captured stay with its detached thread; a call that never
//     returns keeps them (and the thread) until the process exits.
// Threads: thread-safe.
// Errors: none; an exception thrown by the call counts as returning and is dropped.
class BackgroundCall {
public:
    explicit BackgroundCall(std::function<void()> call) {
        auto task = std::make_shared<std::packaged_task<void()>>(std::move(call));
        returned_ = task->get_future().share();
        std::thread([task] { (*task)(); }).detach();
    }

    // Whether the call has returned within `patience` from now. May be asked again, for example
    // once the test released what held the call.
    [[nodiscard]] bool returnsWithin(std::chrono::milliseconds patience = kPatience) const {
        return returned_.wait_for(patience) == std::future_status::ready;
    }

private:
    std::shared_future<void> returned_;
};

// Whether `call`, made on a thread of its own, returns within `patience`: false when it waits
// for a lock the caller holds. A call that never returns is left behind, as with BackgroundCall.
template <class Call>
[[nodiscard]] bool returnsFromAnotherThread(Call call,
                                            std::chrono::milliseconds patience = kPatience) {
    return BackgroundCall(std::move(call)).returnsWithin(patience);
}

// Outcome: the result of one completion, handed from the thread that completes (set) to the
// test that waits for it (arrives, get): a promise and its future, shared by every copy, so that a
// callback holding a copy may still complete after the test stopped waiting.
// Ownership: copies share one result; T is copied out to each get().
// Threads: thread-safe.
// Errors: set throws std::future_error when the outcome was already set (a completion that came
//     twice); get adds a test failure when nothing came within kPatience.
template <class T>
class Outcome {
public:
    void set(T value) const { shared_->promise.set_value(std::move(value)); }

    // Whether the result came within `patience` from now; adds no failure.
    [[nodiscard]] bool arrives(std::chrono::milliseconds patience = kPatience) const {
        std::shared_future<T> future = shared_->future;
        return future.wait_for(patience) == std::future_status::ready;
    }

    // The result, waiting for it up to kPatience; past that, a test failure that says `missing`
    // and a default T.
    T get(const std::string& missing = "no completion came") const {
        if (!arrives()) {
            ADD_FAILURE() << missing;
            return T{};
        }
        std::shared_future<T> future = shared_->future;
        return future.get();
    }

private:
    struct Shared {
        std::promise<T> promise;
        std::shared_future<T> future = promise.get_future().share();
    };

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace pelmar::test
