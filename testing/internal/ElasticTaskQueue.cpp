#include "testing/internal/ElasticTaskQueue.h"

#include <utility>

namespace pelmar::test::internal {

ElasticTaskQueue::ElasticTaskQueue(size_t maxThreads)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

ElasticTaskQueue::~ElasticTaskQueue() {
    shutdown();
}

void ElasticTaskQueue::enqueue(std::function<void()> job) {
    {
        MutexLock lock(mutex_);
        if (shutdown_) {
            return;
        }
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && threads_.size() < maxThreads_) {
            threads_.emplace_back([this] { work(); });
        }
    }
    wake_.notifyOne();
}

void ElasticTaskQueue::shutdown() {
    std::vector<std::thread> threads;
    {
        MutexLock lock(mutex_);
        shutdown_ = true;
        threads.swap(threads_);
    }
    wake_.notifyAll();
    for (auto& thread : threads) {
        thread.join();
    }
}

void ElasticTaskQueue::work() {
    while (true) {
        std::function<void()> job;
        {
            MutexLock lock(mutex_);
            ++idle_;
            while (jobs_.empty() && !shutdown_) {
                wake_.wait(mutex_);
            }
            --idle_;
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace pelmar::test::internal
