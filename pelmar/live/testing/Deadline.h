#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>

// Deadline: runs a step that might deadlock on a thread of its own and tells whether it finished
// in time, so a test of a lock fails instead of hanging.
// Ownership: the step and what it captures by value stay with its thread; a step that never ends
//     keeps them (and its thread) until the process exits.
// Threads: thread-safe.
// Errors: none; an exception from the step counts as finished (and is dropped).

namespace pelmar::test {

class Deadline {
public:
    // Starts `step` at once.
    explicit Deadline(std::function<void()> step) {
        auto task = std::make_shared<std::packaged_task<void()>>(std::move(step));
        done_ = task->get_future();
        std::thread([task] { (*task)(); }).detach();
    }

    // True when the step has finished within `timeout` (from now).
    bool FinishesWithin(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return done_.wait_for(timeout) == std::future_status::ready;
    }

private:
    std::future<void> done_;
};

}  // namespace pelmar::test
