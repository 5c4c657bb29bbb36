#pragma once

#include <deque>
#include <functional>
#include <string>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch::internal {

// ConcurrentQueue: hands each block to the shared pool at once, so blocks start in FIFO order and
// run side by side. sync runs on the caller's thread. Blocks posted while suspended wait in the
// queue until the last resume().
// Ownership: made by Queue::concurrent() (or the immortal global queue); queued blocks hold it.
// Threads: thread-safe. Locking: one mutex of its own, a leaf (see Queue.h); no callback runs while
//     it is held.
// Errors: see Queue. The global queue ignores suspend()/resume() (with a warning).
class ConcurrentQueue final : public Queue {
public:
    ConcurrentQueue(std::string label, bool suspendable);

    void async(Block block) override;

    void suspend() override;

    void resume() override;

    bool isSuspended() const override;

protected:
    void runSync(const std::function<void()>& fn) override;

private:
    void submit(Block block) PELMAR_EXCLUDES(mutex_);

    const bool suspendable_;
    mutable Mutex mutex_;
    CondVar resumed_;
    std::deque<Block> held_ PELMAR_GUARDED_BY(mutex_);  // blocks posted while suspended
    int suspendCount_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::dispatch::internal
