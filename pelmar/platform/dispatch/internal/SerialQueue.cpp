#include "pelmar/platform/dispatch/internal/SerialQueue.h"

#include <utility>

#include "pelmar/platform/dispatch/internal/CurrentQueue.h"
#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/ThreadPool.h"

namespace pelmar::dispatch::internal {

SerialQueue::SerialQueue(std::string label) : Queue(std::move(label)) {}

void SerialQueue::async(Block block) {
    bool start = false;
    {
        MutexLock lock(mutex_);
        items_.push_back(Item{std::move(block), nullptr});
        if (!active_ && suspendCount_ == 0) {
            active_ = true;
            start = true;
        }
    }
    if (start) {
        startDrain();
    }
}

void SerialQueue::suspend() {
    MutexLock lock(mutex_);
    ++suspendCount_;
}

void SerialQueue::resume() {
    bool start = false;
    {
        MutexLock lock(mutex_);
        if (suspendCount_ == 0) {
            warnMisuse("resume() of queue '" + label() + "' without a matching suspend() ignored");
            return;
        }
        --suspendCount_;
        if (suspendCount_ == 0 && !active_ && !items_.empty()) {
            active_ = true;
            start = true;
        }
    }
    if (start) {
        startDrain();
    }
}

bool SerialQueue::isSuspended() const {
    MutexLock lock(mutex_);
    return suspendCount_ > 0;
}

void SerialQueue::startDrain() {
    if (!ThreadPool::instance().submit([self = std::static_pointer_cast<SerialQueue>(
                                                shared_from_this())] { self->drain(); })) {
        discardAfterShutdown();
    }
}

void SerialQueue::discardAfterShutdown() {
    // The process is exiting and nothing will run these blocks. Kept, they would keep alive what
    // they hold, often the queue's own owner, so they are released here. A sync caller waiting
    // its turn is given the queue instead, so that it does not wait forever; its release() comes
    // back here for the rest.
    std::deque<Item> dropped;
    std::shared_ptr<Ticket> waiter;
    {
        MutexLock lock(mutex_);
        while (!items_.empty() && !waiter) {
            waiter = std::move(items_.front().ticket);
            if (!waiter) {
                dropped.push_back(std::move(items_.front()));
            }
            items_.pop_front();
        }
        if (!waiter) {
            active_ = false;
        }
    }
    dropped.clear();
    if (waiter) {
        {
            MutexLock lock(waiter->mutex);
            waiter->turn = true;
        }
        waiter->granted.notifyOne();
    }
}

void SerialQueue::drain() {
    for (int i = 0; i < kDrainBatch; ++i) {
        Item item;
        {
            MutexLock lock(mutex_);
            if (suspendCount_ > 0 || items_.empty()) {
                active_ = false;
                return;
            }
            item = std::move(items_.front());
            items_.pop_front();
        }
        if (item.ticket) {
            // The queue now belongs to the sync caller, which releases it when done.
            {
                MutexLock lock(item.ticket->mutex);
                item.ticket->turn = true;
            }
            item.ticket->granted.notifyOne();
            return;
        }
        CurrentQueue scope(this);
        item.block();
    }
    // Let other queues have the worker; the queue stays active.
    startDrain();
}

void SerialQueue::release() {
    bool start = false;
    {
        MutexLock lock(mutex_);
        if (suspendCount_ == 0 && !items_.empty()) {
            start = true;
        } else {
            active_ = false;
        }
    }
    if (start) {
        startDrain();
    }
}

void SerialQueue::runSync(const std::function<void()>& fn) {
    if (CurrentQueue::contains(this)) {
        fatalMisuse("sync onto serial queue '" + label()
                    + "' from a block running on it would deadlock");
    }
    std::shared_ptr<Ticket> ticket;
    {
        MutexLock lock(mutex_);
        if (!active_ && suspendCount_ == 0 && items_.empty()) {
            active_ = true;
        } else {
            ticket = std::make_shared<Ticket>();
            items_.push_back(Item{nullptr, ticket});
        }
    }
    if (ticket) {
        MutexLock lock(ticket->mutex);
        while (!ticket->turn) {
            ticket->granted.wait(ticket->mutex);
        }
    }

    struct Release {
        SerialQueue* queue;

        ~Release() { queue->release(); }
    } release{this};

    CurrentQueue scope(this);
    fn();
}

}  // namespace pelmar::dispatch::internal
