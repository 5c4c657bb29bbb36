#include "pelmar/platform/dispatch/internal/ConcurrentQueue.h"

#include <utility>

#include "pelmar/platform/dispatch/internal/CurrentQueue.h"
#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/ThreadPool.h"

namespace pelmar::dispatch::internal {

ConcurrentQueue::ConcurrentQueue(std::string label, bool suspendable)
    : Queue(std::move(label)), suspendable_(suspendable) {}

void ConcurrentQueue::async(Block block) {
    {
        MutexLock lock(mutex_);
        if (suspendCount_ > 0) {
            held_.push_back(std::move(block));
            return;
        }
    }
    submit(std::move(block));
}

void ConcurrentQueue::submit(Block block) {
    // After shutdown the block is dropped with the task that holds it.
    (void)ThreadPool::instance().submit([self = shared_from_this(), block = std::move(block)] {
        CurrentQueue scope(self.get());
        block();
    });
}

void ConcurrentQueue::suspend() {
    if (!suspendable_) {
        warnMisuse("suspend() of queue '" + label() + "' ignored: it cannot be suspended");
        return;
    }
    MutexLock lock(mutex_);
    ++suspendCount_;
}

void ConcurrentQueue::resume() {
    if (!suspendable_) {
        warnMisuse("resume() of queue '" + label() + "' ignored: it cannot be suspended");
        return;
    }
    std::deque<Block> released;
    {
        MutexLock lock(mutex_);
        if (suspendCount_ == 0) {
            warnMisuse("resume() of queue '" + label() + "' without a matching suspend() ignored");
            return;
        }
        if (--suspendCount_ == 0) {
            released.swap(held_);
        }
    }
    resumed_.notifyAll();
    for (auto& block : released) {
        submit(std::move(block));
    }
}

bool ConcurrentQueue::isSuspended() const {
    MutexLock lock(mutex_);
    return suspendCount_ > 0;
}

void ConcurrentQueue::runSync(const std::function<void()>& fn) {
    {
        MutexLock lock(mutex_);
        while (suspendCount_ != 0) {
            resumed_.wait(mutex_);
        }
    }
    CurrentQueue scope(this);
    fn();
}

}  // namespace pelmar::dispatch::internal
