#include "pelmar/imageloader/PelmarOperationGroup.h"

namespace pelmar {

std::shared_ptr<PelmarOperationGroup> PelmarOperationGroup::asyncOperationGroupWithQueue(
        std::shared_ptr<PelmarOperationQueue> queue) {
    return std::make_shared<PelmarOperationGroup>(Private{}, std::move(queue));
}

PelmarOperationGroup::PelmarOperationGroup(Private, std::shared_ptr<PelmarOperationQueue> queue)
    : operationQueue_(std::move(queue)) {}

std::optional<uint64_t> PelmarOperationGroup::addOperation(Block block,
                                                           PelmarOperationQueuePriority priority) {
    MutexLock lock(mutex_);
    if (started_ || canceled_) {
        return std::nullopt;
    }
    operations_.push_back(std::move(block));
    operationPriorities_.push_back(priority);
    operationReferences_.push_back(++operationReferenceCount_);
    return operationReferenceCount_;
}

void PelmarOperationGroup::setCompletion(Block completion) {
    MutexLock lock(mutex_);
    if (!started_ && !canceled_) {
        completion_ = std::move(completion);
    }
}

void PelmarOperationGroup::start() {
    std::vector<Block> operations;
    bool notifyNow = false;
    {
        MutexLock lock(mutex_);
        if (started_ || canceled_) {
            return;
        }
        started_ = true;
        pending_ += static_cast<int>(operations_.size());
        auto self = shared_from_this();
        // Scheduling under the group's lock keeps a concurrent cancel() from missing a block;
        // the queue never calls back under its own lock.
        for (std::size_t i = 0; i < operations_.size(); ++i) {
            const auto reference = operationQueue_->scheduleOperation(
                    [self, block = std::move(operations_[i])] {
                        block();
                        self->leave();
                    },
                    operationPriorities_[i]);
            groupToOperationReferences_[operationReferences_[i]] = reference;
        }
        notifyNow = pending_ == 0 && completion_ != nullptr;
        operations_.clear();
        operationPriorities_.clear();
        operationReferences_.clear();
    }
    if (notifyNow) {
        dispatch::Queue::global()->async(
                [self = shared_from_this()] { self->runCompletionIfNeeded(); });
    }
}

void PelmarOperationGroup::leave() {
    bool notify = false;
    {
        MutexLock lock(mutex_);
        notify = --pending_ == 0 && completion_ != nullptr;
        if (pending_ == 0) {
            done_.notifyAll();
        }
    }
    if (notify) {
        dispatch::Queue::global()->async(
                [self = shared_from_this()] { self->runCompletionIfNeeded(); });
    }
}

void PelmarOperationGroup::cancel() {
    MutexLock lock(mutex_);
    canceled_ = true;
    for (const auto& [groupReference, queueReference] : groupToOperationReferences_) {
        if (operationQueue_->cancelOperation(queueReference)) {
            --pending_;
        }
    }
    if (pending_ == 0) {
        done_.notifyAll();
    }
    groupToOperationReferences_.clear();
    operations_.clear();
    operationPriorities_.clear();
    operationReferences_.clear();
    completion_ = nullptr;
}

void PelmarOperationGroup::waitUntilComplete() {
    start();
    {
        MutexLock lock(mutex_);
        while (pending_ != 0) {
            done_.wait(mutex_);
        }
    }
    runCompletionIfNeeded();
}

void PelmarOperationGroup::runCompletionIfNeeded() {
    Block completion;
    {
        MutexLock lock(mutex_);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion) {
        completion();
    }
}

}  // namespace pelmar
