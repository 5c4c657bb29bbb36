#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "pelmar/imageloader/PelmarOperationQueue.h"

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

    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<Block> operations_;                                            // guarded by mutex_
    std::vector<PelmarOperationQueuePriority> operationPriorities_;            // guarded by mutex_
    std::vector<uint64_t> operationReferences_;                                // guarded by mutex_
    std::map<uint64_t, PelmarOperationReference> groupToOperationReferences_;  // guarded
    uint64_t operationReferenceCount_ = 0;                                     // guarded by mutex_
    int pending_ = 0;                                                          // guarded by mutex_
    Block completion_;                                                         // guarded by mutex_
    bool started_ = false;                                                     // guarded by mutex_
    bool canceled_ = false;                                                    // guarded by mutex_
};

}  // namespace pelmar
