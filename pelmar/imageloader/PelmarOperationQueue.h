#pragma once

#include <any>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

// Operation priorities; any other value is filed among the default ones but kept.
using PelmarOperationQueuePriority = unsigned;
inline constexpr PelmarOperationQueuePriority kPelmarOperationQueuePriorityLow = 0;
inline constexpr PelmarOperationQueuePriority kPelmarOperationQueuePriorityDefault = 1;
inline constexpr PelmarOperationQueuePriority kPelmarOperationQueuePriorityHigh = 2;

// The handle of a scheduled operation; references count from 1 per queue.
using PelmarOperationReference = uint64_t;

// PelmarOperation: one scheduled block with its data, priority, coalescing identifier and the
// completions to run after it.
// Ownership: held by its queue while it waits and while it runs.
// Threads: thread-compatible; the queue guards it with its own lock.
// Errors: none.
struct PelmarOperation {
    using Work = std::function<void(const std::any& data)>;
    using Completion = std::function<void()>;

    static std::shared_ptr<PelmarOperation> operationWithBlock(
            Work block,
            PelmarOperationReference reference,
            PelmarOperationQueuePriority priority,
            std::optional<std::string> identifier,
            std::any data,
            Completion completion);

    // Ignores an empty completion.
    void addCompletion(Completion completion);

    Work block;
    PelmarOperationReference reference = 0;
    PelmarOperationQueuePriority priority = kPelmarOperationQueuePriorityDefault;
    std::vector<Completion> completions;
    std::optional<std::string> identifier;
    std::any data;
    uint64_t arrival = 0;        // place among all waiting operations
    uint64_t priorityPlace = 0;  // place within its priority
};

// PelmarOperationQueue: runs blocks in the background by priority, at most
// maxConcurrentOperations at once: one runner always takes the oldest waiting operation whatever
// its priority, and the other maxConcurrentOperations - 1 slots take the highest-priority ones
// first (first come first served within a priority). A waiting operation can be cancelled or
// re-prioritised through its reference; blocks scheduled under the identifier of a waiting
// operation are merged into it (data combined by the caller's block, completions appended).
// Slots are counted under the queue's lock, so no thread ever blocks waiting for one.
// Ownership: made by create() and held by shared_ptr; running blocks keep the queue alive.
// Threads: thread-safe. Work and completions run on "PelmarOperationQueue Serial Queue" or on the
//     concurrent queue, never under the lock. waitUntilAllOperationsAreFinished() must not be
//     called from one of the queue's own operations (it would wait for itself).
// Errors: none; cancelling or re-prioritising an unknown or running operation does nothing.
class PelmarOperationQueue : public std::enable_shared_from_this<PelmarOperationQueue> {
    struct Private {};

public:
    using Work = PelmarOperation::Work;
    using Completion = PelmarOperation::Completion;
    // Combines the waiting operation's data and a new scheduling's data into the data to run with.
    using DataCoalescingBlock =
            std::function<std::any(const std::any& existing, const std::any& added)>;

    // `maxConcurrentOperations` is clamped to at least 1. A null `concurrentQueue` gives the queue
    // a concurrent queue "PelmarOperationQueue Concurrent Queue" of its own.
    static std::shared_ptr<PelmarOperationQueue> create(
            unsigned maxConcurrentOperations,
            std::shared_ptr<dispatch::Queue> concurrentQueue = nullptr);

    // One queue per process whose maximum is the number of processors, at least 2.
    static const std::shared_ptr<PelmarOperationQueue>& sharedOperationQueue();

    PelmarOperationQueue(Private,
                         unsigned maxConcurrentOperations,
                         std::shared_ptr<dispatch::Queue> concurrentQueue);

    PelmarOperationQueue(const PelmarOperationQueue&) = delete;
    PelmarOperationQueue& operator=(const PelmarOperationQueue&) = delete;

    PelmarOperationReference nextOperationReference();

    PelmarOperationReference scheduleOperation(
            std::function<void()> block,
            PelmarOperationQueuePriority priority = kPelmarOperationQueuePriorityDefault);

    // With an identifier that a waiting operation already has, that operation absorbs this one
    // (its reference is returned and nothing new is scheduled); an identifier stops coalescing as
    // soon as its operation is taken for a run.
    PelmarOperationReference scheduleOperation(Work block,
                                               PelmarOperationQueuePriority priority,
                                               std::optional<std::string> identifier,
                                               std::any coalescingData,
                                               DataCoalescingBlock dataCoalescingBlock,
                                               Completion completion);

    PelmarOperationReference addOperation(
            std::function<void()> block,
            PelmarOperationQueuePriority priority = kPelmarOperationQueuePriorityDefault) {
        return scheduleOperation(std::move(block), priority);
    }

    // True when the operation was waiting: its work and completions will never run.
    bool cancelOperation(PelmarOperationReference reference);

    void cancelAllOperations();

    // A waiting operation moves to the end of its new priority and keeps its age for the serial
    // runner; a running or unknown one is left alone.
    void setOperationPriority(PelmarOperationQueuePriority priority,
                              PelmarOperationReference reference);

    unsigned maxConcurrentOperations() const;

    // Clamped to at least 1. More slots start waiting operations at once; fewer let the running
    // ones finish.
    void setMaxConcurrentOperations(unsigned maxConcurrentOperations);

    // Waits until no operation is waiting or running.
    void waitUntilAllOperationsAreFinished();

    void lock() PELMAR_ACQUIRE(mutex_) { mutex_.lock(); }

    void unlock() PELMAR_RELEASE(mutex_) { mutex_.unlock(); }

private:
    using Operation = std::shared_ptr<PelmarOperation>;

    void l_add(const Operation& operation) PELMAR_REQUIRES(mutex_);

    void l_remove(const Operation& operation) PELMAR_REQUIRES(mutex_);

    std::map<uint64_t, Operation>& l_setFor(PelmarOperationQueuePriority priority)
            PELMAR_REQUIRES(mutex_);

    // Starts what the free runners may take.
    void scheduleNextOperations();

    void run(const Operation& operation, bool serial);

    const std::shared_ptr<dispatch::Queue> serialQueue_;
    const std::shared_ptr<dispatch::Queue> concurrentQueue_;

    mutable PelmarRemoteLock mutex_{"PelmarOperationQueue", PelmarRemoteLockType::Recursive};
    std::condition_variable_any idle_;
    PelmarOperationReference operationReferenceCount_ PELMAR_GUARDED_BY(mutex_) = 0;
    unsigned maxConcurrentOperations_ PELMAR_GUARDED_BY(mutex_);
    bool serialQueueBusy_ PELMAR_GUARDED_BY(mutex_) = false;
    unsigned concurrentRunning_ PELMAR_GUARDED_BY(mutex_) = 0;
    uint64_t places_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::map<uint64_t, Operation> queuedOperations_ PELMAR_GUARDED_BY(mutex_);
    std::map<uint64_t, Operation> lowPriorityOperations_ PELMAR_GUARDED_BY(mutex_);
    std::map<uint64_t, Operation> defaultPriorityOperations_ PELMAR_GUARDED_BY(mutex_);
    std::map<uint64_t, Operation> highPriorityOperations_ PELMAR_GUARDED_BY(mutex_);
    std::unordered_map<PelmarOperationReference, Operation> referenceToOperations_
            PELMAR_GUARDED_BY(mutex_);
    std::unordered_map<std::string, Operation> identifierToOperations_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
