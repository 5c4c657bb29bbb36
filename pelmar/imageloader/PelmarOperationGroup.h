#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "pelmar/imageloader/PelmarOperationQueue.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar {

// PelmarOperationGroup: collects blocks, schedules them all on a PelmarOperationQueue when
// started, and calls one completion once every one of them has run. Cancelling withdraws the
// blocks still waiting and drops the completion.
// Ownership: made by create() and held by shared_ptr; keeps its queue alive; scheduled blocks
//     keep the group alive until they have run.
// Threads: thread-safe. The completion runs on the global queue, or on the thread of
//     waitUntilComplete(); at most once.
// Errors: none; additions after start() or cancel() are refused (no reference).
class PelmarOperationGroup : public std::enable_shared_from_this<PelmarOperationGroup> {
    struct Private {};

public:
    using Block = std::function<void()>;

    static std::shared_ptr<PelmarOperationGroup> asyncOperationGroupWithQueue(
            std::shared_ptr<PelmarOperationQueue> queue);

    PelmarOperationGroup(Private, std::shared_ptr<PelmarOperationQueue> queue);

    PelmarOperationGroup(const PelmarOperationGroup&) = delete;
    PelmarOperationGroup& operator=(const PelmarOperationGroup&) = delete;

    // The group's reference of the block (counting from 1); nothing once started or cancelled.
    std::optional<uint64_t> addOperation(
            Block block,
            PelmarOperationQueuePriority priority = kPelmarOperationQueuePriorityDefault);

    // Ignored once started or cancelled.
    void setCompletion(Block completion);

    void start();

    void cancel();

    // start(), then waits for every block, then runs the completion here if it has not run.
    void waitUntilComplete();

    void runCompletionIfNeeded();

private:
    void leave();

    const std::shared_ptr<PelmarOperationQueue> operationQueue_;

    Mutex mutex_;
    CondVar done_;
    std::vector<Block> operations_ PELMAR_GUARDED_BY(mutex_);
    std::vector<PelmarOperationQueuePriority> operationPriorities_ PELMAR_GUARDED_BY(mutex_);
    std::vector<uint64_t> operationReferences_ PELMAR_GUARDED_BY(mutex_);
    std::map<uint64_t, PelmarOperationReference> groupToOperationReferences_
            PELMAR_GUARDED_BY(mutex_);
    uint64_t operationReferenceCount_ PELMAR_GUARDED_BY(mutex_) = 0;
    int pending_ PELMAR_GUARDED_BY(mutex_) = 0;
    Block completion_ PELMAR_GUARDED_BY(mutex_);
    bool started_ PELMAR_GUARDED_BY(mutex_) = false;
    bool canceled_ PELMAR_GUARDED_BY(mutex_) = false;
};

}  // namespace pelmar
