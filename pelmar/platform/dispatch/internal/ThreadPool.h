#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <thread>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch::internal {

// ThreadPool: the bounded set of worker threads that runs serial-queue drains, concurrent-queue
// blocks and operations, in FIFO order of submission.
// Ownership: one process-wide instance that is never destroyed. Workers start on demand (when every
//     worker is busy) up to kMaxThreads and stay until process exit, when idle workers are joined
//     and busy ones detached (they end after their current task; queued tasks are dropped).
// Threads: thread-safe. Tasks run without any lock held; a task must not throw (std::terminate).
//     Locking: one mutex of its own, a leaf (see Queue.h); no callback runs while it is held.
// Errors: none; a task submitted after shutdown is dropped, and submit() says so.
class ThreadPool {
public:
    static constexpr std::size_t kMaxThreads = 64;

    static ThreadPool& instance();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // False when the pool has shut down: the task was dropped and will never run.
    [[nodiscard]] bool submit(std::function<void()> task);

    std::size_t threadCount() const;

    // No task waits and no worker runs one. Tests read it to let background work settle; it is
    // a snapshot that a later submit() may change.
    bool isIdle() const;

    void shutdown();

private:
    // One worker thread. Its busy flag belongs to mutex_, which a guard annotation cannot name
    // from inside Worker, so only the accessors below (which require mutex_) reach it.
    class Worker {
    public:
        std::thread thread;

    private:
        friend class ThreadPool;
        bool busy_ = false;
    };

    ThreadPool() = default;

    void workerMain(Worker* self) PELMAR_EXCLUDES(mutex_);

    bool isBusy(const Worker& worker) const PELMAR_REQUIRES(mutex_) { return worker.busy_; }

    void setBusy(Worker& worker, bool busy) PELMAR_REQUIRES(mutex_) { worker.busy_ = busy; }

    mutable Mutex mutex_;
    CondVar workAvailable_;
    std::deque<std::function<void()>> tasks_ PELMAR_GUARDED_BY(mutex_);
    std::list<Worker> workers_ PELMAR_GUARDED_BY(mutex_);
    std::size_t idle_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool stopping_ PELMAR_GUARDED_BY(mutex_) = false;
};

}  // namespace pelmar::dispatch::internal
