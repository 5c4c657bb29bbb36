#pragma once

#include <cstddef>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::photos::internal {

// DecodeBudget: bounds the memory that decodes running at the same time may take: a decode waits
// until its cost fits beside those under way (one alone is always let in, whatever its cost).
// Ownership: a plain member of its image manager.
// Threads: thread-safe; acquire() blocks the calling (pool) thread.
// Errors: none.
class DecodeBudget {
public:
    explicit DecodeBudget(std::size_t limitBytes) : limit_(limitBytes) {}

    void acquire(std::size_t cost) {
        MutexLock lock(mutex_);
        while (inUse_ > 0 && inUse_ + cost > limit_) {
            released_.wait(mutex_);
        }
        inUse_ += cost;
    }

    void release(std::size_t cost) {
        {
            MutexLock lock(mutex_);
            inUse_ -= cost;
        }
        released_.notifyAll();
    }

private:
    const std::size_t limit_;
    Mutex mutex_;
    CondVar released_;
    std::size_t inUse_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::photos::internal
