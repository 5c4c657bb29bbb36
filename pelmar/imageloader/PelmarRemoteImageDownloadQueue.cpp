#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"

#include <algorithm>

namespace pelmar {

std::shared_ptr<PelmarRemoteImageDownloadQueue>
PelmarRemoteImageDownloadQueue::queueWithMaxConcurrentDownloads(unsigned maxConcurrentDownloads) {
    return std::make_shared<PelmarRemoteImageDownloadQueue>(Private{}, maxConcurrentDownloads);
}

PelmarRemoteImageDownloadQueue::PelmarRemoteImageDownloadQueue(Private,
                                                               unsigned maxConcurrentDownloads)
    : maxNumberOfConcurrentDownloads_(std::max(1u, maxConcurrentDownloads)) {}

unsigned PelmarRemoteImageDownloadQueue::maxNumberOfConcurrentDownloads() {
    PelmarRemoteLock::Hold lock(lock_);
    return maxNumberOfConcurrentDownloads_;
}

void PelmarRemoteImageDownloadQueue::setMaxNumberOfConcurrentDownloads(
        unsigned maxConcurrentDownloads) {
    {
        PelmarRemoteLock::Hold lock(lock_);
        maxNumberOfConcurrentDownloads_ = std::max(1u, maxConcurrentDownloads);
    }
    scheduleDownloadsIfNeeded();
}

std::size_t PelmarRemoteImageDownloadQueue::waitingCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return highPriorityQueuedOperations_.size() + defaultPriorityQueuedOperations_.size()
           + lowPriorityQueuedOperations_.size();
}

std::size_t PelmarRemoteImageDownloadQueue::runningCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return runningTasks_.size();
}

std::deque<PelmarDataTask>& PelmarRemoteImageDownloadQueue::l_waitingFor(
        PelmarRemoteImageManagerPriority priority) {
    switch (priority) {
        case kPelmarRemoteImageManagerPriorityLow:
            return lowPriorityQueuedOperations_;
        case kPelmarRemoteImageManagerPriorityHigh:
            return highPriorityQueuedOperations_;
        default:
            return defaultPriorityQueuedOperations_;
    }
}

PelmarDataTask PelmarRemoteImageDownloadQueue::addDownloadWithSessionManager(
        PelmarURLSessionManager& sessionManager,
        net::URLRequest request,
        PelmarRemoteImageManagerPriority priority,
        Handler handler) {
    auto task = sessionManager.dataTaskWithRequest(
            std::move(request), priority,
            [weak = weak_from_this(), handler = std::move(handler)](
                    const PelmarDataTask& ended, const std::optional<Error>& error) {
                if (handler) {
                    handler(ended->response(), error);
                }
                if (auto self = weak.lock()) {
                    self->taskEnded(ended);
                }
            });
    setQueuePriority(priority, task, true);
    return task;
}

void PelmarRemoteImageDownloadQueue::taskEnded(const PelmarDataTask& task) {
    {
        PelmarRemoteLock::Hold lock(lock_);
        runningTasks_.erase(task);
        // A task cancelled while waiting completes without ever running.
        l_remove(task);
    }
    scheduleDownloadsIfNeeded();
}

void PelmarRemoteImageDownloadQueue::scheduleDownloadsIfNeeded() {
    PelmarRemoteLock::Hold lock(lock_);
    while (runningTasks_.size() < maxNumberOfConcurrentDownloads_) {
        std::deque<PelmarDataTask>* waiting =
                !highPriorityQueuedOperations_.empty()      ? &highPriorityQueuedOperations_
                : !defaultPriorityQueuedOperations_.empty() ? &defaultPriorityQueuedOperations_
                                                            : &lowPriorityQueuedOperations_;
        if (waiting->empty()) {
            return;
        }
        PelmarDataTask task = std::move(waiting->front());
        waiting->pop_front();
        // resume() only hands the task to the transport thread; nothing calls back in here.
        task->resume();
        runningTasks_.insert(std::move(task));
    }
}

bool PelmarRemoteImageDownloadQueue::l_remove(const PelmarDataTask& task) {
    for (auto* waiting : {&highPriorityQueuedOperations_, &defaultPriorityQueuedOperations_,
                          &lowPriorityQueuedOperations_}) {
        const auto it = std::find(waiting->begin(), waiting->end(), task);
        if (it != waiting->end()) {
            waiting->erase(it);
            return true;
        }
    }
    return false;
}

bool PelmarRemoteImageDownloadQueue::removeDownloadTaskFromQueue(const PelmarDataTask& task) {
    PelmarRemoteLock::Hold lock(lock_);
    return l_remove(task);
}

void PelmarRemoteImageDownloadQueue::setQueuePriority(PelmarRemoteImageManagerPriority priority,
                                                      const PelmarDataTask& task,
                                                      bool addIfNecessary) {
    {
        PelmarRemoteLock::Hold lock(lock_);
        const bool wasWaiting = l_remove(task);
        if (!wasWaiting && (!addIfNecessary || runningTasks_.count(task) != 0)) {
            return;
        }
        l_waitingFor(priority).push_back(task);
    }
    scheduleDownloadsIfNeeded();
}

}  // namespace pelmar
