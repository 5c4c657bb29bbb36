#pragma once

#include <httplib.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"

// ElasticTaskQueue: the emulator's connection workers. httplib gives each connection a worker for
// its whole keep-alive life, and the emulator parks workers on scripted delays, so a fixed pool
// would let idle or delayed connections starve the others; this one grows on demand up to a cap.
// Ownership: owns its threads; shutdown() (or the destructor) runs the queued jobs and joins them.
// Threads: thread-safe.
// Errors: none (a job that throws ends the process, as an escaped exception on any thread does).
// Limits: at most maxThreads threads; jobs beyond that wait in FIFO order.

namespace pelmar::test::internal {

class ElasticTaskQueue : public httplib::TaskQueue {
public:
    explicit ElasticTaskQueue(size_t maxThreads);
    ~ElasticTaskQueue() override;
    ElasticTaskQueue(const ElasticTaskQueue&) = delete;
    ElasticTaskQueue& operator=(const ElasticTaskQueue&) = delete;

    void enqueue(std::function<void()> job) override;
    void shutdown() override;

private:
    void work();

    const size_t maxThreads_;
    Mutex mutex_;
    CondVar wake_;
    std::deque<std::function<void()>> jobs_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::thread> threads_ PELMAR_GUARDED_BY(mutex_);
    size_t idle_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool shutdown_ PELMAR_GUARDED_BY(mutex_) = false;
};

}  // namespace pelmar::test::internal
