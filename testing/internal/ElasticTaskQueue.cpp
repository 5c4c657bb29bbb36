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
        std::lock_guard lock(mutex_);
        if (shutdown_) {
            return;
        }
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && threads_.size() < maxThreads_) {
            threads_.emplace_back([this] { work(); });
        }
    }
    wake_.notify_one();
}

void ElasticTaskQueue::shutdown() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        shutdown_ = true;
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (auto& thread : threads) {
        thread.join();
    }
}

void ElasticTaskQueue::work() {
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            ++idle_;
            wake_.wait(lock, [this] { return !jobs_.empty() || shutdown_; });
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
