#pragma once

namespace pelmar::dispatch {
class Queue;
}

namespace pelmar::dispatch::internal {

// CurrentQueue: records, per thread, the queues whose blocks the thread is running (nested by sync
// calls), so that code can ask where it runs and sync can refuse a certain deadlock.
// Ownership: a scope object pushes on construction and pops on destruction; queues are referred to
//     by plain pointer, alive while their block runs.
// Threads: each thread sees only its own stack.
// Errors: none.
class CurrentQueue {
public:
    explicit CurrentQueue(Queue* queue);
    ~CurrentQueue();

    CurrentQueue(const CurrentQueue&) = delete;
    CurrentQueue& operator=(const CurrentQueue&) = delete;

    static bool contains(const Queue* queue);

    // Null when the thread runs no block.
    static Queue* innermost();
};

}  // namespace pelmar::dispatch::internal
