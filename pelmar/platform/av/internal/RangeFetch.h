#pragma once

#include <functional>
#include <string>

namespace pelmar::av::internal {

class ByteCache;

// RangeFetch: fills a ByteCache from an http(s) URL with libcurl, one HTTP Range request at a
// time: first the bytes a reader waits for, then (when the whole movie is wanted) the stretches
// still missing, each asked for up to the next stretch already held, so no byte is fetched twice.
// A server that answers a range with the whole file (200) is read once, front to back. TLS is
// verified against the system's authorities (as the URL session does), only http and https are
// spoken, also across redirects.
// Ownership: borrows the cache and the controls for the length of run().
// Threads: run() blocks the calling thread; the controls are called on it.
// Errors: a failed fetch fails the cache with an AVERROR code and a text (an HTTP error status,
//     an untrusted certificate, a refused connection, the size bound); stopping fails it with
//     AVERROR_EXIT.
// Limits: a transfer that moves nothing for `idleTimeoutSeconds` fails; the stop check is looked
//     at every kPollMs while a transfer waits.
struct RangeFetch {
    static constexpr int kPollMs = 20;
    // A wanted offset this close ahead of the transfer is waited for rather than jumped to.
    static constexpr int64_t kNearBytes = 256 * 1024;
    // Until the whole movie is wanted, the fetch stops this far past the latest read.
    static constexpr int64_t kReadAheadBytes = 512 * 1024;

    struct Controls {
        // True once the fetch should end (the cache then fails with AVERROR_EXIT).
        std::function<bool()> stopped;
        // True while every byte is wanted, not only those readers ask for.
        std::function<bool()> wholeWanted;
        // Called after bytes have been stored or the fetch has ended.
        std::function<void()> progressed;
    };

    // Returns once the cache has finished or failed.
    static void run(const std::string& url,
                    ByteCache& cache,
                    double idleTimeoutSeconds,
                    const Controls& controls);
};

}  // namespace pelmar::av::internal
