#pragma once

#include <filesystem>
#include <map>
#include <memory>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/net/BodySource.h"
#include "pelmar/platform/net/URLRequest.h"
#include "pelmar/platform/net/URLSessionConfiguration.h"
#include "pelmar/platform/net/URLSessionDelegate.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/sync/Mutex.h"

// URLSession: makes URL session tasks and delivers their events on its delegate queue.
// Ownership: reference object held by shared_ptr; each task keeps its session alive until the task
//     has completed. The delegate is held weakly.
// Threads: thread-safe.
// Errors: tasks end with kURLErrorDomain errors (see URLError.h). Making a task on an invalidated
//     session throws std::logic_error.

namespace pelmar::net {

class URLSession : public std::enable_shared_from_this<URLSession> {
    struct Private {};

public:
    using Task = std::shared_ptr<URLSessionTask>;
    using DataCompletionHandler = URLSessionTask::DataCompletionHandler;
    using DownloadCompletionHandler = URLSessionTask::DownloadCompletionHandler;

    // The process-wide session: default configuration, no delegate, one serial delegate queue.
    // Events go to a session's delegate queue, which is a serial queue and never the main queue.
    static const std::shared_ptr<URLSession>& shared();

    // Another session (one per background upload, for example). A null `delegateQueue` gives the
    // session a serial queue of its own.
    static std::shared_ptr<URLSession> create(
            URLSessionConfiguration configuration,
            std::weak_ptr<URLSessionDelegate> delegate = {},
            std::shared_ptr<dispatch::Queue> delegateQueue = nullptr);

    URLSession(Private,
               URLSessionConfiguration configuration,
               std::weak_ptr<URLSessionDelegate> delegate,
               std::shared_ptr<dispatch::Queue> delegateQueue);

    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const { return configuration_; }

    const std::shared_ptr<dispatch::Queue>& delegateQueue() const { return delegateQueue_; }

    // Null when none was given or it is gone.
    std::shared_ptr<URLSessionDelegate> delegate() const { return delegate_.lock(); }

    // Tasks are made suspended; resume() starts them. With a completion handler, the handler
    // gets the whole answer and the delegate hears only upload progress; without one, the
    // delegate hears everything. All transfers of the process run on one transport thread (a
    // libcurl multi loop), whatever their session: HTTP and HTTPS only, TLS verified, redirects
    // followed (at most 10), no "Expect: 100-continue", an idle time-out (never a limit on the
    // whole transfer), connections reused across all sessions. A data task may also read a
    // "data:" URL (its own bytes) or a "file:" URL (the file's bytes, status 200; a missing file
    // gives kURLErrorFileDoesNotExist), without the network.
    Task dataTask(URLRequest request, DataCompletionHandler completion = {});

    // Sends the file as the body (its size as Content-Length); the request's own body is ignored.
    Task uploadTask(URLRequest request,
                    const std::filesystem::path& fromFile,
                    DataCompletionHandler completion = {});

    // Sends `body`, read while it is sent, with Content-Length body->size().
    Task uploadTask(URLRequest request,
                    std::shared_ptr<BodySource> body,
                    DataCompletionHandler completion = {});

    // Writes the answer to a temporary file under the sandbox's temporary folder, at most
    // configuration().maximumDownloadBytes of it (see URLSessionConfiguration).
    Task downloadTask(URLRequest request, DownloadCompletionHandler completion = {});

    // No new tasks; running ones go on to their end.
    void finishTasksAndInvalidate();

    // No new tasks; cancels the unfinished ones.
    void invalidateAndCancel();

    bool isInvalidated() const;

private:
    friend class URLSessionTask;

    Task makeTask(URLSessionTask::Kind kind,
                  URLRequest request,
                  std::shared_ptr<BodySource> body,
                  DataCompletionHandler dataCompletion,
                  DownloadCompletionHandler downloadCompletion);

    // Runs `block` on the delegate queue.
    void deliver(dispatch::Queue::Block block) const;

    void taskEnded(uint64_t taskIdentifier);

    const URLSessionConfiguration configuration_;
    const std::weak_ptr<URLSessionDelegate> delegate_;
    const std::shared_ptr<dispatch::Queue> delegateQueue_;

    mutable Mutex mutex_;
    bool invalidated_ PELMAR_GUARDED_BY(mutex_) = false;
    std::map<uint64_t, std::weak_ptr<URLSessionTask>> tasks_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::net
