#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLAuthenticationChallenge.h"
#include "pelmar/platform/net/URLSessionTaskMetrics.h"

// URLSessionDelegate: hears the events of the tasks of a session it was given to. Every method is
// optional (the default does nothing).
// Ownership: a session refers to its delegate weakly; events for a delegate that is gone are
//     dropped.
// Threads: every method runs on the session's delegate queue (serial), one event at a time and in
//     the order the events happened for each task.
// Errors: failures arrive in didCompleteWithError.

namespace pelmar::net {

class URLSession;
class URLSessionTask;

class URLSessionDelegate {
public:
    virtual ~URLSessionDelegate() = default;

    // The answer head, before the first answer bytes; only for tasks made without a completion
    // handler.
    virtual void didReceiveResponse(URLSession& /*session*/,
                                    const std::shared_ptr<URLSessionTask>& /*task*/,
                                    const std::shared_ptr<const HTTPURLResponse>& /*response*/) {}

    // Answer bytes as they arrive; only for tasks made without a completion handler.
    virtual void didReceiveData(URLSession& /*session*/,
                                const std::shared_ptr<URLSessionTask>& /*task*/,
                                const std::string& /*data*/) {}

    // Upload progress: bytes sent since the previous call, in total, and the body size. Called
    // only when the total changed; events may be merged when the queue falls behind.
    virtual void didSendBodyData(URLSession& /*session*/,
                                 const std::shared_ptr<URLSessionTask>& /*task*/,
                                 int64_t /*bytesSent*/,
                                 int64_t /*totalBytesSent*/,
                                 int64_t /*totalBytesExpectedToSend*/) {}

    // When the task's transfer happened, once, just before its end; for every task that reached
    // the transport (with or without a completion handler).
    virtual void didFinishCollectingMetrics(URLSession& /*session*/,
                                            const std::shared_ptr<URLSessionTask>& /*task*/,
                                            const URLSessionTaskMetrics& /*metrics*/) {}

    // A server's challenge to the task (for every task, with or without a completion handler).
    // `completion` must be called once, from any thread; the task waits for it (a cancel() ends
    // the wait). Later calls are ignored. The default performs default handling at once.
    virtual void didReceiveChallenge(URLSession& /*session*/,
                                     const std::shared_ptr<URLSessionTask>& /*task*/,
                                     const URLAuthenticationChallenge& /*challenge*/,
                                     URLSessionChallengeCompletion completion) {
        completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }

    // The task's end, once; only for tasks made without a completion handler.
    virtual void didCompleteWithError(URLSession& /*session*/,
                                      const std::shared_ptr<URLSessionTask>& /*task*/,
                                      const std::optional<Error>& /*error*/) {}
};

}  // namespace pelmar::net
