#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace pelmar::dispatch {

// OperationQueue: runs operations (closures) on the shared pool, FIFO, at most
// maxConcurrentOperationCount at a time (1 makes it serial).
// Ownership: plain object, not copyable. Operations are owned until they run or are cancelled.
//     Destroying the queue cancels the operations that have not started and does not wait for
//     running ones (they finish on their own; they must not use the queue).
// Threads: thread-safe; operations run on pool threads. Locking: one mutex of its own, a leaf (see
//     Queue.h); no callback runs while it is held.
// Errors: setMaxConcurrentOperationCount throws std::invalid_argument for a count other than
//     kDefaultMaxConcurrentOperationCount or >= 1; addOperation throws it for an empty operation.
//     waitUntilAllOperationsAreFinished() from one of the queue's own operations aborts with a
//     message (it would wait for itself). An operation must not throw (std::terminate).
class OperationQueue {
public:
    // No limit of its own: as many as the pool runs at once.
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;

    OperationQueue();
    ~OperationQueue();

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count);

    int maxConcurrentOperationCount() const;

    void addOperation(std::function<void()> operation);

    // Blocks until no operation is waiting or running.
    void waitUntilAllOperationsAreFinished();

    // Drops the operations that have not started; running ones finish.
    void cancelAllOperations();

    // Operations waiting or running.
    std::size_t operationCount() const;

private:
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace pelmar::dispatch
