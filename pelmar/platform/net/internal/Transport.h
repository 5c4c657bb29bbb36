#pragma once

#include <cstdint>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "pelmar/platform/net/URLSessionTaskMetrics.h"
#include "pelmar/platform/sync/Mutex.h"

// Transport: the one libcurl multi loop of the process. A single worker thread drives every
// transfer of every URL session (curl_multi_poll, woken by curl_multi_wakeup), feeds request
// bodies from their sources, and hands answer bytes, progress and the end of each transfer to its
// task, which posts them to its session's delegate queue.
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

private:
    struct Transfer;
    struct Handles;

    Transport();

    void run();

    void begin(std::shared_ptr<URLSessionTask> task);

    void finish(uint64_t taskIdentifier, int curlResult);

    // Answers a "data:" URL from its own bytes, without libcurl.
    static void answerDataURL(const std::shared_ptr<URLSessionTask>& task);

    static URLSessionTaskMetrics metricsOf(const Transfer& transfer);

    std::unique_ptr<Handles> handles_;

    Mutex mutex_;
    std::vector<std::shared_ptr<URLSessionTask>> toStart_ PELMAR_GUARDED_BY(mutex_);
    std::vector<uint64_t> toCancel_ PELMAR_GUARDED_BY(mutex_);
    bool stopping_ PELMAR_GUARDED_BY(mutex_) = false;

    // Transport thread only.
    std::unordered_map<uint64_t, std::unique_ptr<Transfer>> transfers_;

    std::thread thread_;
};

}  // namespace pelmar::net::internal
