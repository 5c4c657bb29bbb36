#pragma once

#include <mutex>
#include <utility>

namespace pelmar::dispatch {

// Once: runs an initialisation exactly once however many threads ask for it; the others wait
// until it has finished. (A function-local static does the same for a value.)
// Ownership: plain object, not copyable; usually a static or a member.
// Threads: thread-safe.
// Errors: if the function throws, the exception reaches its caller and a later call tries again.
class Once {
public:
    Once() = default;

    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;

    template <class F>
    void call(F&& fn) {
        std::call_once(flag_, std::forward<F>(fn));
    }

private:
    std::once_flag flag_;
};

}  // namespace pelmar::dispatch
