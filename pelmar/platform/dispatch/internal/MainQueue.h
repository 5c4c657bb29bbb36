#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch::internal {

// MainQueue: the FIFO of the main run loop and the notion of which thread is the main thread.
// RunLoop drives it; Queue::main() hands it out.
// Ownership: one process-wide instance that is never destroyed; it owns queued blocks until they
//     run or a test reset drops them.
// Threads: thread-safe for posting; runTurn/waitForWork/enterRunLoop are main thread only. Locking:
//     one mutex of its own, a leaf (see Queue.h); no callback runs while it is held.
// Errors: see Queue; running the loop from a second thread aborts with a message.
class MainQueue final : public Queue {
public:
    MainQueue();

    static MainQueue& instance();

    static std::shared_ptr<Queue> shared();

    bool isCurrent() const override;

    void async(Block block) override;

    void asyncAfter(double seconds, Block block) override;

    void suspend() override;

    void resume() override;

    bool isSuspended() const override;

    // Makes the calling thread the main thread, or aborts when another thread already is.
    void enterRunLoop();

    // Whether enterRunLoop() on the calling thread would succeed now.
    bool mayEnterRunLoop() const;

    // Runs the blocks that were queued when the turn began (not those they post); returns how
    // many ran.
    std::size_t runTurn() PELMAR_EXCLUDES(mutex_);

    // Waits until a block can run, wakeUp() is called or `until` passes.
    void waitForWork(std::chrono::steady_clock::time_point until);

    void wakeUp();

    bool isMainThread() const;

    std::uint64_t generation() const;

    // Posts `block` unless a test reset happened since `generation` was read.
    void postIfGeneration(std::uint64_t generation, Block block);

    // Drops queued blocks and main-loop deadlines, clears suspension, forgets the main thread,
    // and makes blocks, timers and deadlines made before it inert.
    void resetForTesting();

protected:
    void runSync(const std::function<void()>& fn) override;

private:
    mutable Mutex mutex_;
    CondVar workAvailable_;
    std::deque<Block> blocks_ PELMAR_GUARDED_BY(mutex_);
    int suspendCount_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool wakeRequested_ PELMAR_GUARDED_BY(mutex_) = false;
    std::uint64_t generation_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::atomic<std::uint64_t> mainThread_{0};  // thread number; 0: not bound yet
};

}  // namespace pelmar::dispatch::internal
