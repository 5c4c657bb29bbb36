#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/BodySource.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLAuthenticationChallenge.h"
#include "pelmar/platform/net/URLRequest.h"
#include "pelmar/platform/net/URLSessionTaskMetrics.h"
#include "pelmar/platform/sync/Mutex.h"

// URLSessionTask: one transfer of a URL session (data, upload or download). It is made
// suspended; resume() starts it and cancel() ends it from any thread.
// Ownership: made by URLSession and held by shared_ptr; a running task is kept alive by the
//     transport until it has completed, and it keeps its session alive until then.
// Threads: thread-safe.
// Errors: the task's end reports a kURLErrorDomain error (kURLErrorCancelled after cancel()),
//     or none; an HTTP error status is not an error.

namespace pelmar::net {

class URLSession;

namespace internal {
class Transport;
}

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
    struct Private {};

public:
    enum class Kind { Data, Upload, Download };

    enum class State { Suspended, Running, Canceling, Completed };

    using Response = std::shared_ptr<const HTTPURLResponse>;
    // Answer bytes (none after an error), response (none when no answer head arrived), error.
    using DataCompletionHandler =
            std::function<void(std::optional<std::string>, Response, std::optional<Error>)>;
    // Path of a temporary file holding the answer (removed once the handler returns; none after
    // an error, when what was written is already gone), response, error.
    using DownloadCompletionHandler = std::function<void(
            std::optional<std::filesystem::path>, Response, std::optional<Error>)>;

    ~URLSessionTask();

    URLSessionTask(const URLSessionTask&) = delete;
    URLSessionTask& operator=(const URLSessionTask&) = delete;

    // Unique within the process (1, 2, ...), never reused.
    uint64_t taskIdentifier() const { return identifier_; }

    Kind kind() const { return kind_; }

    const URLRequest& originalRequest() const { return request_; }

    // The session that made the task.
    const std::shared_ptr<URLSession>& session() const { return session_; }

    State state() const;

    // The answer head once it arrived.
    Response response() const;

    // The error the task ended with (after completion).
    std::optional<Error> error() const;

    int64_t countOfBytesSent() const;

    int64_t countOfBytesExpectedToSend() const;

    int64_t countOfBytesReceived() const;

    // The answer's Content-Length once its head arrived; -1 when unknown.
    int64_t countOfBytesExpectedToReceive() const;

    // The request as sent last: the original one with the URL that answered (after redirects).
    URLRequest currentRequest() const;

    // How much the caller cares about this task, 0 to 1 (default 0.5); kept for the caller, the
    // transport serves every task alike.
    double priority() const;

    // Clamped to 0..1.
    void setPriority(double priority);

    // Starts a suspended task; does nothing otherwise.
    void resume();

    // Ends the task with kURLErrorCancelled unless it already completed. A suspended task
    // completes at once (its completion event still runs on the delegate queue).
    void cancel();

    // Made only by URLSession (the tag is private).
    URLSessionTask(Private,
                   uint64_t identifier,
                   Kind kind,
                   URLRequest request,
                   std::shared_ptr<URLSession> session,
                   std::shared_ptr<BodySource> body,
                   DataCompletionHandler dataCompletion,
                   DownloadCompletionHandler downloadCompletion);

private:
    friend class URLSession;
    friend class internal::Transport;

    // Transport side, called on the transport thread.
    const std::shared_ptr<BodySource>& body() const { return body_; }

    int64_t maximumResponseBytes() const;

    int64_t maximumDownloadBytes() const;

    // Also tells a delegate task's delegate.
    void setResponse(Response response, int64_t expectedToReceive);

    // Tells the delegate (on the delegate queue, before the end).
    void collectMetrics(URLSessionTaskMetrics metrics);

    // Asks the session's delegate on the delegate queue; without a delegate, answers default
    // handling. `completion` may run on any thread.
    void challenge(URLAuthenticationChallenge challenge, URLSessionChallengeCompletion completion);

    // Takes answer bytes; an error stops the transfer with it.
    std::optional<Error> receive(const char* data, size_t size);

    void bodySent(int64_t totalBytesSent, int64_t totalBytesExpectedToSend);

    // Ends the task once; later calls do nothing.
    void complete(std::optional<Error> error);

    void deliverProgress();

    const uint64_t identifier_;
    const Kind kind_;
    const URLRequest request_;
    const std::shared_ptr<URLSession> session_;
    const std::shared_ptr<BodySource> body_;

    mutable Mutex mutex_;
    State state_ PELMAR_GUARDED_BY(mutex_) = State::Suspended;
    Response response_ PELMAR_GUARDED_BY(mutex_);
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
    int64_t bytesSent_ PELMAR_GUARDED_BY(mutex_) = 0;
    int64_t bytesExpectedToSend_ PELMAR_GUARDED_BY(mutex_) = 0;
    int64_t bytesReceived_ PELMAR_GUARDED_BY(mutex_) = 0;
    int64_t bytesExpectedToReceive_ PELMAR_GUARDED_BY(mutex_) = -1;
    double priority_ PELMAR_GUARDED_BY(mutex_) = 0.5;
    int64_t bytesSentReported_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool progressPending_ PELMAR_GUARDED_BY(mutex_) = false;
    DataCompletionHandler dataCompletion_ PELMAR_GUARDED_BY(mutex_);
    DownloadCompletionHandler downloadCompletion_ PELMAR_GUARDED_BY(mutex_);

    // Transport thread only, until complete() hands them on.
    std::string data_;
    int downloadFd_ = -1;
    std::filesystem::path downloadPath_;
};

}  // namespace pelmar::net
