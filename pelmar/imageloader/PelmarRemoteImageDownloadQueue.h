#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "pelmar/imageloader/PelmarRemoteImageManagerPriority.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"

namespace pelmar {

// PelmarRemoteImageDownloadQueue: limits how many data tasks run at once and starts waiting ones
// strictly by priority (high, default, low), first come first served within a priority.
// Ownership: made by create() and held by shared_ptr by the image manager; holds its waiting and
//     running tasks; task completion blocks hold the queue weakly.
// Threads: thread-safe. Tasks are started under the queue's lock (starting never calls back);
//     a task's handler runs on the task's delegate queue without the lock.
// Errors: none of its own; the handler receives the task's final error.
class PelmarRemoteImageDownloadQueue
    : public std::enable_shared_from_this<PelmarRemoteImageDownloadQueue> {
    struct Private {};

public:
    using Handler = std::function<void(const std::shared_ptr<const net::HTTPURLResponse>& response,
                                       const std::optional<Error>& error)>;

    // The limit is clamped to at least 1.
    static std::shared_ptr<PelmarRemoteImageDownloadQueue> queueWithMaxConcurrentDownloads(
            unsigned maxConcurrentDownloads);

    PelmarRemoteImageDownloadQueue(Private, unsigned maxConcurrentDownloads);

    unsigned maxNumberOfConcurrentDownloads();

    // A higher limit starts waiting tasks at once; a lower one lets running tasks finish.
    void setMaxNumberOfConcurrentDownloads(unsigned maxConcurrentDownloads);

    // Makes a data task on `sessionManager` and queues it; it starts when a slot is free.
    PelmarDataTask addDownloadWithSessionManager(PelmarURLSessionManager& sessionManager,
                                                 net::URLRequest request,
                                                 PelmarRemoteImageManagerPriority priority,
                                                 Handler handler);

    void scheduleDownloadsIfNeeded();

    // False when the task is not waiting (running or unknown).
    bool removeDownloadTaskFromQueue(const PelmarDataTask& task);

    void setQueuePriority(PelmarRemoteImageManagerPriority priority, const PelmarDataTask& task) {
        setQueuePriority(priority, task, false);
    }

    // Moves a waiting task to the end of `priority`'s waiting list (in one step, followed by a
    // scheduling pass, so a slot freed meanwhile is not lost); a task that is not waiting is
    // added only when `addIfNecessary`.
    void setQueuePriority(PelmarRemoteImageManagerPriority priority,
                          const PelmarDataTask& task,
                          bool addIfNecessary);

    // Tasks started and not yet completed.
    std::size_t runningCount();

    // Tasks waiting for a slot.
    std::size_t waitingCount();

    void lock() PELMAR_ACQUIRE(lock_) { lock_.lock(); }

    void unlock() PELMAR_RELEASE(lock_) { lock_.unlock(); }

private:
    std::deque<PelmarDataTask>& l_waitingFor(PelmarRemoteImageManagerPriority priority);

    bool l_remove(const PelmarDataTask& task);

    void taskEnded(const PelmarDataTask& task);

    PelmarRemoteLock lock_{"PelmarRemoteImageDownloadQueue Lock"};
    std::deque<PelmarDataTask> highPriorityQueuedOperations_ PELMAR_GUARDED_BY(lock_);
    std::deque<PelmarDataTask> defaultPriorityQueuedOperations_ PELMAR_GUARDED_BY(lock_);
    std::deque<PelmarDataTask> lowPriorityQueuedOperations_ PELMAR_GUARDED_BY(lock_);
    std::set<PelmarDataTask> runningTasks_ PELMAR_GUARDED_BY(lock_);
    unsigned maxNumberOfConcurrentDownloads_ PELMAR_GUARDED_BY(lock_);
};

}  // namespace pelmar
