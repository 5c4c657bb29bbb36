#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/URLAuthenticationChallenge.h"
#include "pelmar/platform/net/URLSessionTaskMetrics.h"
#include "pelmar/platform/sync/Mutex.h"

// Transport: the one libcurl multi loop of the process. A single worker thread drives every
// transfer of every URL session (curl_multi_poll, woken by curl_multi_wakeup), feeds request
// bodies from their sources, and hands answer bytes, progress and the end of each transfer to its
// task, which posts them to its session's delegate queue. "data:" and "file:" URLs are answered
// without libcurl. A transfer that meets a challenge (a 401 naming Basic or Digest, a TLS
// certificate that does not verify) is parked until its task's delegate answers, then sent again
// with the credential, finished with what it got, or cancelled. A task whose session already
// has httpMaximumConnectionsPerHost transfers with its server waits until one of them ends.
// Ownership: a process-wide singleton, made on first use; its destructor (at exit) stops the
//     thread and drops unfinished transfers without completing them. It holds each running task
//     until the task completes.
// Threads: thread-safe; start() and cancel() only queue a command and wake the loop.
// Errors: transfer failures become kURLErrorDomain errors on the task.

namespace pelmar::net {
class URLSessionTask;
}

namespace pelmar::net::internal {

class Transport {
public:
    static Transport& instance();

    ~Transport();

    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    void start(std::shared_ptr<URLSessionTask> task);

    void cancel(uint64_t taskIdentifier);

    // What an attempt of a transfer offers to the server's challenges.
    struct Attempt {
        std::optional<URLCredential> login;  // user and password
        std::optional<URLAuthenticationMethod> loginMethod;
        int credentialsOffered = 0;  // logins offered before this one's answer
        std::optional<std::string> trustedKeySHA256;
    };

private:
    struct Transfer;
    struct Handles;

    struct ChallengeAnswer {
        uint64_t taskIdentifier = 0;
        uint64_t challengeId = 0;  // the challenge answered; other ones of the task ignore it
        URLSessionAuthChallengeDisposition disposition =
                URLSessionAuthChallengeDisposition::PerformDefaultHandling;
        std::optional<URLCredential> credential;
    };

    Transport();

    void run();

    void begin(std::shared_ptr<URLSessionTask> task);

    // Hands a set-up transfer to libcurl with what `attempt` offers.
    void launch(std::unique_ptr<Transfer> transfer, Attempt attempt);

    void finish(uint64_t taskIdentifier, int curlResult);

    // Delivers the response, closes the body, reports metrics and completes the task.
    void end(Transfer& transfer, std::optional<Error> error);

    // Parks a transfer that met a challenge and asks its task's delegate; the answer comes back
    // through answerChallenge (any thread) to resolveChallenge (transport thread). Each
    // challenge has its own id; an answer resolves the parked transfer only when it is for the
    // challenge that transfer waits on.
    void askChallenge(std::unique_ptr<Transfer> transfer);

    void answerChallenge(uint64_t taskIdentifier,
                         uint64_t challengeId,
                         URLSessionAuthChallengeDisposition disposition,
                         std::optional<URLCredential> credential);

    void resolveChallenge(std::unique_ptr<Transfer> transfer,
                          URLSessionAuthChallengeDisposition disposition,
                          std::optional<URLCredential> credential);

    // Answers a "data:" URL from its own bytes, without libcurl.
    static void answerDataURL(const std::shared_ptr<URLSessionTask>& task);

    // Answers a data task of a "file:" URL with the file's bytes (status 200), or a file error.
    static void answerFileURL(const std::shared_ptr<URLSessionTask>& task);

    static URLSessionTaskMetrics metricsOf(const Transfer& transfer);

    // Whether `task` may have a transfer of its own now under its session's
    // httpMaximumConnectionsPerHost.
    bool hasRoomForHost(const URLSessionTask& task);

    // Begins the first waiting task that has room (or was cancelled); false when none did.
    bool beginWaitingTask();

    std::unique_ptr<Handles> handles_;

    Mutex mutex_;
    std::vector<std::shared_ptr<URLSessionTask>> toStart_ PELMAR_GUARDED_BY(mutex_);
    std::vector<uint64_t> toCancel_ PELMAR_GUARDED_BY(mutex_);
    std::vector<ChallengeAnswer> toAnswer_ PELMAR_GUARDED_BY(mutex_);
    bool stopping_ PELMAR_GUARDED_BY(mutex_) = false;

    // Transport thread only. Transfers alive (running or parked) per session and server; declared
    // before the transfers, which count themselves out of it when they go.
    std::unordered_map<std::string, int> hostLoad_;
    std::unordered_map<uint64_t, std::unique_ptr<Transfer>> transfers_;
    // Transfers waiting for the answer to a challenge; libcurl no longer holds them.
    std::unordered_map<uint64_t, std::unique_ptr<Transfer>> parked_;
    uint64_t lastChallengeId_ = 0;
    // The tasks waiting, in order, for one of their server's transfers to end.
    std::deque<std::shared_ptr<URLSessionTask>> waitingForHost_;

    std::thread thread_;
};

}  // namespace pelmar::net::internal
