#pragma once

#include <atomic>
#include <mutex>
#include <utility>

namespace pelmar::dispatch {

// Once: runs an initialisation exactly once however many threads ask for it; the others wait until
// it has finished. (A function-local static does the same for a value.)
// Ownership: plain object, not copyable; usually a static or a member.
// Threads: thread-safe. The function runs under the Once's own lock, so it must not call the same
//     Once again (that deadlocks).
// Errors: if the function throws, the exception reaches its caller and a later call tries again.
class Once {
public:
    Once() = default;

    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;

    template <class F>
    void call(F&& fn) {
        if (done_.load(std::memory_order_acquire)) {
            return;
        }
        std::lock_guard lock(mutex_);
        if (done_.load(std::memory_order_relaxed)) {
            return;
        }
        std::forward<F>(fn)();
        done_.store(true, std::memory_order_release);
    }

private:
    std::mutex mutex_;
    std::atomic<bool> done_{false};
};

}  // namespace pelmar::dispatch
