#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch::internal {

// SerialQueue: runs its blocks one at a time in FIFO order. While it has work, one pool task drains
// it (yielding the worker after kDrainBatch blocks); while idle it holds no thread. A sync call
// waits for its turn and then runs on the caller's thread while the queue is held for it.
// Ownership: made by Queue::serial(); queued blocks and the drain task hold the queue.
// Threads: thread-safe. Locking: one mutex of its own, a leaf (see Queue.h); no callback runs while
//     it is held.
// Errors: see Queue.
class SerialQueue final : public Queue {
public:
    // Blocks run per pool task before the drain yields its worker to other queues.
    static constexpr int kDrainBatch = 32;

    explicit SerialQueue(std::string label);

    void async(Block block) override;

    void suspend() override;

    void resume() override;

    bool isSuspended() const override;

protected:
    void runSync(const std::function<void()>& fn) override;

private:
    // A sync caller waiting in the FIFO for its turn.
    struct Ticket {
        Mutex mutex;
        CondVar granted;
        bool turn PELMAR_GUARDED_BY(mutex) = false;
    };

    struct Item {
        Block block;
        std::shared_ptr<Ticket> ticket;
    };

    void drain() PELMAR_EXCLUDES(mutex_);

    // Gives up the hold of a sync caller or a finished drain: starts a drain if work is waiting.
    void release() PELMAR_EXCLUDES(mutex_);

    void startDrain() PELMAR_EXCLUDES(mutex_);

    // Called when the thread pool refuses a drain because it has shut down.
    void discardAfterShutdown() PELMAR_EXCLUDES(mutex_);

    mutable Mutex mutex_;
    std::deque<Item> items_ PELMAR_GUARDED_BY(mutex_);
    // A drain is scheduled or running, or a sync caller holds the queue.
    bool active_ PELMAR_GUARDED_BY(mutex_) = false;
    int suspendCount_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::dispatch::internal
