#include "pelmar/platform/dispatch/OperationQueue.h"

#include <deque>
#include <stdexcept>
#include <utility>

#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/ThreadPool.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {

namespace {

// The queue whose operation the calling thread runs (to refuse waiting for oneself).
thread_local const void* tRunningFor = nullptr;

}  // namespace

struct OperationQueue::State : std::enable_shared_from_this<State> {
    Mutex mutex;
    CondVar finished;
    std::deque<std::function<void()>> waiting PELMAR_GUARDED_BY(mutex);
    std::size_t running PELMAR_GUARDED_BY(mutex) = 0;
    int maxConcurrent PELMAR_GUARDED_BY(mutex) = kDefaultMaxConcurrentOperationCount;

    // Starts waiting operations while the limit allows.
    void startMore() PELMAR_EXCLUDES(mutex) {
        for (;;) {
            std::function<void()> operation;
            {
                MutexLock lock(mutex);
                const bool atLimit =
                        maxConcurrent > 0 && running >= static_cast<std::size_t>(maxConcurrent);
                if (waiting.empty() || atLimit) {
                    return;
                }
                operation = std::move(waiting.front());
                waiting.pop_front();
                ++running;
            }
            // After shutdown the operation is dropped with the task that holds it.
            (void)internal::ThreadPool::instance().submit(
                    [self = shared_from_this(), operation = std::move(operation)]() mutable {
                        const void* outer = std::exchange(tRunningFor, self.get());
                        operation();
                        // Release what the operation captured before anyone hears it finished.
                        operation = nullptr;
                        tRunningFor = outer;
                        self->operationEnded();
                    });
        }
    }

    void operationEnded() PELMAR_EXCLUDES(mutex) {
        bool idle;
        {
            MutexLock lock(mutex);
            --running;
            idle = running == 0 && waiting.empty();
        }
        if (idle) {
            finished.notifyAll();
        }
        startMore();
    }
};

OperationQueue::OperationQueue() : state_(std::make_shared<State>()) {}

OperationQueue::~OperationQueue() {
    cancelAllOperations();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    if (count != kDefaultMaxConcurrentOperationCount && count < 1) {
        throw std::invalid_argument(
                "OperationQueue: the maximum concurrent operation count must be >= 1 or -1");
    }
    {
        MutexLock lock(state_->mutex);
        state_->maxConcurrent = count;
    }
    state_->startMore();
}

int OperationQueue::maxConcurrentOperationCount() const {
    MutexLock lock(state_->mutex);
    return state_->maxConcurrent;
}

void OperationQueue::addOperation(std::function<void()> operation) {
    if (!operation) {
        throw std::invalid_argument("OperationQueue::addOperation: the operation is empty");
    }
    {
        MutexLock lock(state_->mutex);
        state_->waiting.push_back(std::move(operation));
    }
    state_->startMore();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (tRunningFor == state_.get()) {
        internal::fatalMisuse(
                "waitUntilAllOperationsAreFinished() from one of the queue's own operations "
                "would wait for itself");
    }
    MutexLock lock(state_->mutex);
    while (state_->running != 0 || !state_->waiting.empty()) {
        state_->finished.wait(state_->mutex);
    }
}

void OperationQueue::cancelAllOperations() {
    std::deque<std::function<void()>> dropped;  // destroyed after the lock is released
    bool idle;
    {
        MutexLock lock(state_->mutex);
        dropped.swap(state_->waiting);
        idle = state_->running == 0;
    }
    if (idle) {
        state_->finished.notifyAll();
    }
}

std::size_t OperationQueue::operationCount() const {
    MutexLock lock(state_->mutex);
    return state_->waiting.size() + state_->running;
}

}  // namespace pelmar::dispatch
