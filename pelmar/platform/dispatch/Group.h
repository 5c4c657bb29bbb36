#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace pelmar::dispatch {

class Queue;

// Group: counts outstanding pieces of work (enter/leave) and tells, once the count falls to zero,
// queued notifications and waiting threads.
// Ownership: plain object, not copyable. Notifications hold their queue and block until posted;
//     timed waits share the group's state with the timekeeper.
// Threads: thread-safe. Notification blocks run on the queue given to notify(). Locking: one mutex
//     of its own, a leaf (see Queue.h); no callback runs while it is held.
// Errors: an unbalanced leave() is ignored with a warning on stderr. Throws std::invalid_argument
//     for a null queue or block and for a NaN timeout.
class Group {
public:
    Group();
    ~Group();

    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;

    void enter();

    void leave();

    // Posts `block` to `queue` when the count next reaches zero (at once when it is zero now).
    void notify(const std::shared_ptr<Queue>& queue, std::function<void()> block);

    // Blocks until the count is zero (returns at once when it is).
    void wait();

    // As wait(), giving up after `seconds` on the installed clock; returns whether the count
    // reached zero.
    [[nodiscard]] bool waitFor(double seconds);

private:
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace pelmar::dispatch
