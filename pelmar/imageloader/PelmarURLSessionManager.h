#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "pelmar/imageloader/PelmarRemoteImageManagerPriority.h"
#include "pelmar/imageloader/PelmarSpeedRecorder.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/net/URLSessionDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar {

using PelmarDataTask = std::shared_ptr<net::URLSessionTask>;

// Hears what the session manager forwards, each task's events in order on that task's own queue.
class PelmarURLSessionManagerDelegate {
public:
    virtual ~PelmarURLSessionManagerDelegate() = default;

    virtual void didReceiveData(const std::string& data, const PelmarDataTask& task) = 0;

    // `url` is the task's original request URL.
    virtual void didCollectMetrics(const net::URLSessionTaskMetrics& /*metrics*/,
                                   const std::string& /*url*/) {}

    virtual void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>& /*response*/,
                                    const PelmarDataTask& /*task*/) {}

    // A server's challenge. `task` is null for a server-trust challenge, which concerns the
    // connection rather than one task. `completion` must be called once, from any thread; the
    // task waits until then. The default performs default handling.
    virtual void didReceiveAuthenticationChallenge(
            const net::URLAuthenticationChallenge& /*challenge*/,
            const PelmarDataTask& /*task*/,
            net::URLSessionChallengeCompletion completion) {
        completion(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }

    // After the task's completion block has run.
    virtual void didCompleteTask(const PelmarDataTask& /*task*/,
                                 const std::optional<Error>& /*error*/) {}
};

// PelmarURLSessionManager: owns the URL session through which the image loader downloads, turns
// its events into calls of its own delegate, keeps one completion block per data task, turns HTTP
// statuses of 400 and above into PelmarURLErrorDomain errors (code = status, message "HTTP Error
// Response."; a 404 whose content type holds "image" is a success) and hands every finished
// transfer's metrics to the shared speed recorder, and hands the session's authentication
// challenges to its delegate. Data tasks are made suspended; the download queue starts them.
// Ownership: made by create() and held by shared_ptr; owns its session (the session refers to it
//     weakly) and shares its speed recorder, which a session event under way may still record
//     into after the owner let go of the manager; refers to its delegate weakly. Blocks queued
//     for a task hold it weakly.
// Threads: thread-safe. Session events arrive one at a time on "PelmarURLSessionManager Operation
//     Queue"; each task's delegate calls and completion run in order on its own serial queue
//     "PelmarURLSessionManager delegate queue - <id>", different tasks in parallel. The lock
//     guards only the two tables and is never held while a delegate or completion runs.
// Errors: as above; transport errors (cancellation included, code -999) pass unchanged. Answers
//     larger than the session configuration's maximumResponseBytes (128 MiB by default) fail with
//     net::kURLErrorDataLengthExceedsMaximum.
class PelmarURLSessionManager : public net::URLSessionDelegate,
                                public std::enable_shared_from_this<PelmarURLSessionManager> {
    struct Private {};

public:
    using Completion = std::function<void(const PelmarDataTask&, const std::optional<Error>&)>;

    static std::shared_ptr<PelmarURLSessionManager> create(
            net::URLSessionConfiguration configuration,
            std::shared_ptr<PelmarSpeedRecorder> speedRecorder =
                    PelmarSpeedRecorder::sharedRecorder());

    // A null `speedRecorder` means the shared one.
    PelmarURLSessionManager(Private, std::shared_ptr<PelmarSpeedRecorder> speedRecorder);

    void setDelegate(std::weak_ptr<PelmarURLSessionManagerDelegate> delegate);

    PelmarDataTask dataTaskWithRequest(net::URLRequest request, Completion completion = {}) {
        return dataTaskWithRequest(std::move(request), kPelmarRemoteImageManagerPriorityDefault,
                                   std::move(completion));
    }

    // A suspended task with the session priority of `priority`.
    PelmarDataTask dataTaskWithRequest(net::URLRequest request,
                                       PelmarRemoteImageManagerPriority priority,
                                       Completion completion);

    // Every task ends with net::kURLErrorCancelled; no new tasks can be made.
    void invalidateSessionAndCancelTasks();

    const std::shared_ptr<net::URLSession>& session() const { return session_; }

    void lock() PELMAR_ACQUIRE(mutex_) { mutex_.lock(); }

    void unlock() PELMAR_RELEASE(mutex_) { mutex_.unlock(); }

    // Status 404 with a "content-type" (any case) holding "image".
    static bool responseRecoverableFrom404(const net::HTTPURLResponse& response);

    // The error a finished task reports: `transportError` when there is one, else the HTTP
    // status error of `response`, else none.
    static std::optional<Error> finalError(
            const std::optional<Error>& transportError,
            const std::shared_ptr<const net::HTTPURLResponse>& response);

    // net::URLSessionDelegate, on the operation queue.
    void didReceiveResponse(net::URLSession& session,
                            const std::shared_ptr<net::URLSessionTask>& task,
                            const std::shared_ptr<const net::HTTPURLResponse>& response) override;

    void didReceiveData(net::URLSession& session,
                        const std::shared_ptr<net::URLSessionTask>& task,
                        const std::string& data) override;

    void didFinishCollectingMetrics(net::URLSession& session,
                                    const std::shared_ptr<net::URLSessionTask>& task,
                                    const net::URLSessionTaskMetrics& metrics) override;

    // Server trust at once (with no task), others on the task's queue; default handling when
    // there is no delegate or the task is gone.
    void didReceiveChallenge(net::URLSession& session,
                             const std::shared_ptr<net::URLSessionTask>& task,
                             const net::URLAuthenticationChallenge& challenge,
                             net::URLSessionChallengeCompletion completion) override;

    void didCompleteWithError(net::URLSession& session,
                              const std::shared_ptr<net::URLSessionTask>& task,
                              const std::optional<Error>& error) override;

private:
    // The task's queue, or null when it has none (any more).
    std::shared_ptr<dispatch::Queue> queueFor(uint64_t taskIdentifier);

    std::shared_ptr<PelmarURLSessionManagerDelegate> delegate() const;

    // Owned, not borrowed: a session event in progress keeps this manager alive after its owner
    // let go of it, and the event still records into it.
    const std::shared_ptr<PelmarSpeedRecorder> speedRecorder_;
    std::shared_ptr<net::URLSession> session_;  // set once by create()

    mutable Mutex mutex_;
    std::weak_ptr<PelmarURLSessionManagerDelegate> delegate_ PELMAR_GUARDED_BY(mutex_);
    std::unordered_map<uint64_t, std::shared_ptr<dispatch::Queue>> delegateQueues_
            PELMAR_GUARDED_BY(mutex_);
    std::unordered_map<uint64_t, Completion> completions_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
