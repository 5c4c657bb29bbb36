#include "pelmar/imageloader/PelmarOperationQueue.h"

#include <algorithm>
#include <thread>

namespace pelmar {

std::shared_ptr<PelmarOperation> PelmarOperation::operationWithBlock(
        Work block,
        PelmarOperationReference reference,
        PelmarOperationQueuePriority priority,
        std::optional<std::string> identifier,
        std::any data,
        Completion completion) {
    auto operation = std::make_shared<PelmarOperation>();
    operation->block = std::move(block);
    operation->reference = reference;
    operation->priority = priority;
    operation->identifier = std::move(identifier);
    operation->data = std::move(data);
    operation->addCompletion(std::move(completion));
    return operation;
}

void PelmarOperation::addCompletion(Completion completion) {
    if (completion) {
        completions.push_back(std::move(completion));
    }
}

std::shared_ptr<PelmarOperationQueue> PelmarOperationQueue::create(
        unsigned maxConcurrentOperations, std::shared_ptr<dispatch::Queue> concurrentQueue) {
    return std::make_shared<PelmarOperationQueue>(Private{}, maxConcurrentOperations,
                                                  std::move(concurrentQueue));
}

const std::shared_ptr<PelmarOperationQueue>& PelmarOperationQueue::sharedOperationQueue() {
    static const auto queue = create(std::max(2u, std::thread::hardware_concurrency()));
    return queue;
}

PelmarOperationQueue::PelmarOperationQueue(Private,
                                           unsigned maxConcurrentOperations,
                                           std::shared_ptr<dispatch::Queue> concurrentQueue)
    : serialQueue_(dispatch::Queue::serial("PelmarOperationQueue Serial Queue")),
      concurrentQueue_(concurrentQueue ? std::move(concurrentQueue)
                                       : dispatch::Queue::concurrent(
                                               "PelmarOperationQueue Concurrent Queue")),
      maxConcurrentOperations_(std::max(1u, maxConcurrentOperations)) {}

PelmarOperationReference PelmarOperationQueue::nextOperationReference() {
    PelmarRemoteLock::Hold lock(mutex_);
    return ++operationReferenceCount_;
}

std::map<uint64_t, PelmarOperationQueue::Operation>& PelmarOperationQueue::l_setFor(
        PelmarOperationQueuePriority priority) {
    switch (priority) {
        case kPelmarOperationQueuePriorityLow:
            return lowPriorityOperations_;
        case kPelmarOperationQueuePriorityHigh:
            return highPriorityOperations_;
        default:
            return defaultPriorityOperations_;
    }
}

void PelmarOperationQueue::l_add(const Operation& operation) {
    operation->arrival = ++places_;
    operation->priorityPlace = operation->arrival;
    l_setFor(operation->priority).emplace(operation->priorityPlace, operation);
    queuedOperations_.emplace(operation->arrival, operation);
    referenceToOperations_[operation->reference] = operation;
    if (operation->identifier) {
        identifierToOperations_[*operation->identifier] = operation;
    }
}

void PelmarOperationQueue::l_remove(const Operation& operation) {
    l_setFor(operation->priority).erase(operation->priorityPlace);
    queuedOperations_.erase(operation->arrival);
    referenceToOperations_.erase(operation->reference);
    if (operation->identifier) {
        const auto it = identifierToOperations_.find(*operation->identifier);
        if (it != identifierToOperations_.end() && it->second == operation) {
            identifierToOperations_.erase(it);
        }
    }
}

PelmarOperationReference PelmarOperationQueue::scheduleOperation(
        std::function<void()> block, PelmarOperationQueuePriority priority) {
    return scheduleOperation([block = std::move(block)](const std::any&) { block(); }, priority,
                             std::nullopt, {}, nullptr, nullptr);
}

PelmarOperationReference PelmarOperationQueue::scheduleOperation(
        Work block,
        PelmarOperationQueuePriority priority,
        std::optional<std::string> identifier,
        std::any coalescingData,
        DataCoalescingBlock dataCoalescingBlock,
        Completion completion) {
    {
        PelmarRemoteLock::Hold lock(mutex_);
        if (identifier) {
            const auto it = identifierToOperations_.find(*identifier);
            if (it != identifierToOperations_.end()) {
                const Operation& waiting = it->second;
                if (dataCoalescingBlock) {
                    waiting->data = dataCoalescingBlock(waiting->data, coalescingData);
                }
                waiting->addCompletion(std::move(completion));
                return waiting->reference;
            }
        }
        const auto operation = PelmarOperation::operationWithBlock(
                std::move(block), ++operationReferenceCount_, priority, std::move(identifier),
                std::move(coalescingData), std::move(completion));
        l_add(operation);
        scheduleNextOperations();
        return operation->reference;
    }
}

void PelmarOperationQueue::scheduleNextOperations() {
    PelmarRemoteLock::Hold lock(mutex_);
    if (!serialQueueBusy_ && !queuedOperations_.empty()) {
        const Operation oldest = queuedOperations_.begin()->second;
        l_remove(oldest);
        serialQueueBusy_ = true;
        run(oldest, true);
    }
    while (concurrentRunning_ + 1 < maxConcurrentOperations_ && !queuedOperations_.empty()) {
        auto* set = !highPriorityOperations_.empty()      ? &highPriorityOperations_
                    : !defaultPriorityOperations_.empty() ? &defaultPriorityOperations_
                                                          : &lowPriorityOperations_;
        const Operation next = set->begin()->second;
        l_remove(next);
        ++concurrentRunning_;
        run(next, false);
    }
}

void PelmarOperationQueue::run(const Operation& operation, bool serial) {
    auto self = shared_from_this();
    (serial ? serialQueue_ : concurrentQueue_)->async([self, operation, serial] {
        operation->block(operation->data);
        for (const auto& completion : operation->completions) {
            completion();
        }
        {
            PelmarRemoteLock::Hold lock(self->mutex_);
            if (serial) {
                self->serialQueueBusy_ = false;
            } else {
                --self->concurrentRunning_;
            }
            self->scheduleNextOperations();
            if (!self->serialQueueBusy_ && self->concurrentRunning_ == 0
                && self->queuedOperations_.empty()) {
                self->idle_.notify_all();
            }
        }
    });
}

bool PelmarOperationQueue::cancelOperation(PelmarOperationReference reference) {
    PelmarRemoteLock::Hold lock(mutex_);
    const auto it = referenceToOperations_.find(reference);
    if (it == referenceToOperations_.end()) {
        return false;
    }
    const Operation operation = it->second;
    l_remove(operation);
    if (!serialQueueBusy_ && concurrentRunning_ == 0 && queuedOperations_.empty()) {
        idle_.notify_all();
    }
    return true;
}

void PelmarOperationQueue::cancelAllOperations() {
    PelmarRemoteLock::Hold lock(mutex_);
    std::vector<PelmarOperationReference> references;
    for (const auto& [reference, operation] : referenceToOperations_) {
        references.push_back(reference);
    }
    for (const auto reference : references) {
        cancelOperation(reference);
    }
}

void PelmarOperationQueue::setOperationPriority(PelmarOperationQueuePriority priority,
                                                PelmarOperationReference reference) {
    PelmarRemoteLock::Hold lock(mutex_);
    const auto it = referenceToOperations_.find(reference);
    if (it == referenceToOperations_.end() || it->second->priority == priority) {
        return;
    }
    const Operation operation = it->second;
    l_setFor(operation->priority).erase(operation->priorityPlace);
    operation->priority = priority;
    operation->priorityPlace = ++places_;
    l_setFor(priority).emplace(operation->priorityPlace, operation);
}

unsigned PelmarOperationQueue::maxConcurrentOperations() const {
    PelmarRemoteLock::Hold lock(mutex_);
    return maxConcurrentOperations_;
}

void PelmarOperationQueue::setMaxConcurrentOperations(unsigned maxConcurrentOperations) {
    PelmarRemoteLock::Hold lock(mutex_);
    maxConcurrentOperations_ = std::max(1u, maxConcurrentOperations);
    scheduleNextOperations();
}

void PelmarOperationQueue::waitUntilAllOperationsAreFinished() {
    PelmarRemoteLock::Hold lock(mutex_);
    scheduleNextOperations();
    while (serialQueueBusy_ || concurrentRunning_ != 0 || !queuedOperations_.empty()) {
        idle_.wait(mutex_);
    }
}

}  // namespace pelmar
