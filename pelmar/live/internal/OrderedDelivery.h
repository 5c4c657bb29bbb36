#pragma once

#include <deque>
#include <functional>
#include <utility>

#include "pelmar/platform/sync/Mutex.h"

// OrderedDelivery: hands an encoder's outputs to its output function in the order they were
// made, without any lock held during the call, so the function may call back into the encoder
// or block for as long as it likes. The encoder queues each output while it still holds its own
// lock (which fixes the order), releases that lock, then calls deliver(): the calling thread
// delivers everything queued, unless another thread (or an outer call on this thread) is already
// delivering, in which case that one delivers it next and deliver() returns at once.
// Ownership: owns the queued outputs and the output function.
// Threads: thread-safe. mutex_ guards the queue only; it is taken after the encoder's own lock
//     and never held while the output function runs. The output function runs on one thread at
//     a time.
// Errors: an exception from the output function propagates to the thread delivering; the
//     outputs queued behind it wait for the next deliver().

namespace pelmar::live::internal {

template <typename Item>
class OrderedDelivery {
public:
    explicit OrderedDelivery(std::function<void(Item)> output) : output_(std::move(output)) {}

    OrderedDelivery(const OrderedDelivery&) = delete;
    OrderedDelivery& operator=(const OrderedDelivery&) = delete;

    void queue(Item item) {
        MutexLock lock(mutex_);
        pending_.push_back(std::move(item));
    }

    void deliver() {
        MutexLock lock(mutex_);
        if (delivering_) {
            return;
        }
        delivering_ = true;
        for (;;) {
            if (pending_.empty()) {
                delivering_ = false;
                return;
            }
            Item item = std::move(pending_.front());
            pending_.pop_front();
            lock.unlock();
            try {
                if (output_) {
                    output_(std::move(item));
                }
            } catch (...) {
                lock.lock();
                delivering_ = false;
                throw;
            }
            lock.lock();
        }
    }

private:
    const std::function<void(Item)> output_;
    Mutex mutex_;
    std::deque<Item> pending_ PELMAR_GUARDED_BY(mutex_);
    bool delivering_ PELMAR_GUARDED_BY(mutex_) = false;
};

}  // namespace pelmar::live::internal
