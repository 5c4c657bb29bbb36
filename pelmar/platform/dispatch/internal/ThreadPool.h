#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace pelmar::dispatch::internal {

// ThreadPool: the bounded set of worker threads that runs serial-queue drains, concurrent-queue
// blocks and operations, in FIFO order of submission.
// Ownership: one process-wide instance that is never destroyed. Workers start on demand (when
// every worker is busy) up to kMaxThreads and stay until process exit, when idle workers are
// joined and busy ones detached (they end after their current task; queued tasks are dropped).
// Threads: thread-safe. Tasks run without any lock held; a task must not throw (std::terminate).
// Locks: one mutex of its own, a leaf (see Queue.h); no callback runs while it is held.
// Errors: none; a task submitted after shutdown is dropped.
class ThreadPool {
public:
    static constexpr std::size_t kMaxThreads = 64;

    static ThreadPool& instance();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    void submit(std::function<void()> task);

    std::size_t threadCount() const;

    void shutdown();

private:
    struct Worker {
        std::thread thread;
        bool busy = false;  // guarded by mutex_
    };

    ThreadPool() = default;

    void workerMain(Worker* self);

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::deque<std::function<void()>> tasks_;  // guarded by mutex_
    std::list<Worker> workers_;                // guarded by mutex_
    std::size_t idle_ = 0;                     // guarded by mutex_
    bool stopping_ = false;                    // guarded by mutex_
};

}  // namespace pelmar::dispatch::internal
