#include "pelmar/platform/dispatch/internal/ThreadPool.h"

#include <atomic>
#include <system_error>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/internal/Diagnostics.h"

namespace pelmar::dispatch::internal {

namespace {

std::atomic<ThreadPool*> gInstance{nullptr};

// Stops the workers at process exit (see ThreadPool). Constant-initialised.
struct ShutdownAtExit {
    constexpr ShutdownAtExit() = default;
    ShutdownAtExit(const ShutdownAtExit&) = delete;
    ShutdownAtExit& operator=(const ShutdownAtExit&) = delete;

    ~ShutdownAtExit() {
        if (auto* pool = gInstance.load()) {
            pool->shutdown();
        }
    }
};

ShutdownAtExit gShutdownAtExit;

}  // namespace

ThreadPool& ThreadPool::instance() {
    // Never destroyed: detached workers may still touch it while the process exits.
    static ThreadPool* pool = [] {
        auto* created = new ThreadPool();
        gInstance.store(created);
        return created;
    }();
    return *pool;
}

bool ThreadPool::submit(std::function<void()> task) {
    MutexLock lock(mutex_);
    if (stopping_) {
        return false;
    }
    tasks_.push_back(std::move(task));
    // Queued tasks claim idle workers first; start a worker only when none is left for this one.
    if (tasks_.size() > idle_ && workers_.size() < kMaxThreads) {
        Worker& worker = workers_.emplace_back();
        try {
            worker.thread = std::thread([this, &worker] { workerMain(&worker); });
            return true;
        } catch (const std::system_error&) {
            workers_.pop_back();
            if (workers_.empty()) {
                fatalMisuse("cannot start a worker thread");
            }
        }
    }
    lock.unlock();
    workAvailable_.notifyOne();
    return true;
}

std::size_t ThreadPool::threadCount() const {
    MutexLock lock(mutex_);
    return workers_.size();
}

bool ThreadPool::isIdle() const {
    MutexLock lock(mutex_);
    if (!tasks_.empty()) {
        return false;
    }
    for (const auto& worker : workers_) {
        if (isBusy(worker)) {
            return false;
        }
    }
    return true;
}

void ThreadPool::shutdown() {
    std::vector<std::thread> idle;
    {
        MutexLock lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        for (auto& worker : workers_) {
            if (!worker.thread.joinable()) {
                continue;
            }
            if (isBusy(worker) || worker.thread.get_id() == std::this_thread::get_id()) {
                // Joining could wait forever on a task that waits for this thread.
                worker.thread.detach();
            } else {
                idle.push_back(std::move(worker.thread));
            }
        }
    }
    workAvailable_.notifyAll();
    for (auto& thread : idle) {
        thread.join();
    }
}

void ThreadPool::workerMain(Worker* self) {
    MutexLock lock(mutex_);
    for (;;) {
        while (!stopping_ && tasks_.empty()) {
            ++idle_;
            workAvailable_.wait(mutex_);
            --idle_;
        }
        if (stopping_) {
            return;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        setBusy(*self, true);
        lock.unlock();
        task();
        task = nullptr;  // release what the task captured before taking the lock again
        lock.lock();
        setBusy(*self, false);
    }
}

}  // namespace pelmar::dispatch::internal
