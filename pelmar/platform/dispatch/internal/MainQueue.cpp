#include "pelmar/platform/dispatch/internal/MainQueue.h"

#include <unistd.h>

#include <cmath>
#include <exception>
#include <stdexcept>
#include <utility>

#include "pelmar/platform/dispatch/internal/CurrentQueue.h"
#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch::internal {

namespace {

std::uint64_t threadNumber() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t number = next.fetch_add(1);
    return number;
}

bool isInitialThread() {
    thread_local const bool initial = ::gettid() == ::getpid();
    return initial;
}

}  // namespace

MainQueue::MainQueue() : Queue("main") {}

MainQueue& MainQueue::instance() {
    return static_cast<MainQueue&>(*shared());
}

std::shared_ptr<Queue> MainQueue::shared() {
    // Never destroyed: other threads may post to it while the process exits.
    static auto* queue = new std::shared_ptr<Queue>(std::make_shared<MainQueue>());
    return *queue;
}

bool MainQueue::isCurrent() const {
    return isMainThread();
}

void MainQueue::async(Block block) {
    {
        MutexLock lock(mutex_);
        blocks_.push_back(std::move(block));
    }
    workAvailable_.notifyOne();
}

void MainQueue::asyncAfter(double seconds, Block block) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("Queue::asyncAfter: the delay is NaN");
    }
    const auto posted = generation();
    Timekeeper::instance().scheduleAfter(
            seconds,
            [posted, block = std::move(block)] {
                MainQueue::instance().postIfGeneration(posted, block);
            },
            Timekeeper::Target::Main);
}

void MainQueue::suspend() {
    MutexLock lock(mutex_);
    ++suspendCount_;
}

void MainQueue::resume() {
    {
        MutexLock lock(mutex_);
        if (suspendCount_ == 0) {
            warnMisuse("resume() of the main queue without a matching suspend() ignored");
            return;
        }
        --suspendCount_;
    }
    workAvailable_.notifyOne();
}

bool MainQueue::isSuspended() const {
    MutexLock lock(mutex_);
    return suspendCount_ > 0;
}

void MainQueue::enterRunLoop() {
    const auto me = threadNumber();
    std::uint64_t bound = 0;
    if (!mainThread_.compare_exchange_strong(bound, me) && bound != me) {
        fatalMisuse(
                "the main run loop was run from a second thread; only the main thread may "
                "run it");
    }
}

bool MainQueue::mayEnterRunLoop() const {
    const auto bound = mainThread_.load();
    return bound == 0 || bound == threadNumber();
}

std::size_t MainQueue::runTurn() {
    std::size_t budget;
    {
        MutexLock lock(mutex_);
        budget = blocks_.size();
    }
    std::size_t ran = 0;
    while (ran < budget) {
        Block block;
        {
            MutexLock lock(mutex_);
            if (suspendCount_ > 0 || blocks_.empty()) {
                break;
            }
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        ++ran;
        CurrentQueue scope(this);
        block();
    }
    return ran;
}

void MainQueue::waitForWork(std::chrono::steady_clock::time_point until) {
    MutexLock lock(mutex_);
    while (!wakeRequested_ && (suspendCount_ != 0 || blocks_.empty())) {
        if (!workAvailable_.waitUntil(mutex_, until)) {
            break;
        }
    }
    wakeRequested_ = false;
}

void MainQueue::wakeUp() {
    {
        MutexLock lock(mutex_);
        wakeRequested_ = true;
    }
    workAvailable_.notifyOne();
}

bool MainQueue::isMainThread() const {
    const auto bound = mainThread_.load();
    return bound != 0 ? bound == threadNumber() : isInitialThread();
}

std::uint64_t MainQueue::generation() const {
    MutexLock lock(mutex_);
    return generation_;
}

void MainQueue::postIfGeneration(std::uint64_t generation, Block block) {
    {
        MutexLock lock(mutex_);
        if (generation != generation_) {
            return;
        }
        blocks_.push_back(std::move(block));
    }
    workAvailable_.notifyOne();
}

void MainQueue::resetForTesting() {
    std::deque<Block> dropped;  // destroyed after the lock is released
    {
        MutexLock lock(mutex_);
        dropped.swap(blocks_);
        suspendCount_ = 0;
        wakeRequested_ = false;
        ++generation_;
    }
    mainThread_.store(0);
    Timekeeper::instance().cancelAll(Timekeeper::Target::Main);
}

void MainQueue::runSync(const std::function<void()>& fn) {
    if (isMainThread()) {
        fatalMisuse("sync onto the main queue from the main thread would deadlock");
    }

    struct State {
        Mutex mutex;
        CondVar finished;
        bool done PELMAR_GUARDED_BY(mutex) = false;
        std::exception_ptr error PELMAR_GUARDED_BY(mutex);
    };

    auto state = std::make_shared<State>();
    // The caller waits below until the block has run, so `fn` outlives it.
    async([state, &fn] {
        std::exception_ptr error;
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        {
            // Hand over the only reference: the exception is then released by the caller.
            MutexLock lock(state->mutex);
            state->done = true;
            state->error = std::move(error);
        }
        state->finished.notifyAll();
    });
    std::exception_ptr error;
    {
        MutexLock lock(state->mutex);
        while (!state->done) {
            state->finished.wait(state->mutex);
        }
        error = std::exchange(state->error, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace pelmar::dispatch::internal
