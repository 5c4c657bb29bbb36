#pragma once

#include <cstdint>
#include <optional>
#include <string>

// URLSessionConfiguration: the settings a URL session gives its tasks.
// Ownership: a plain value type, copied into the session.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::net {

// Whether a request may be answered from an answer stored earlier.
enum class URLRequestCachePolicy {
    // As the answer's caching headers allow.
    UseProtocolCachePolicy = 0,
    // Always from the origin server, never from a stored answer.
    ReloadIgnoringLocalCacheData = 1,
};

struct URLSessionConfiguration {
    // Set for background sessions (their transfers run on the transport's worker thread like any
    // other; the identifier names the session for the app).
    std::optional<std::string> identifier;

    // Stored answers. libcurl keeps none, and this stand-in has no URL cache to keep them in
    // (a session that asks for one still stores nothing), so every request of either policy is
    // answered by the server.
    URLRequestCachePolicy requestCachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
    bool usesURLCache = false;

    // At most this many transfers of the session talk to one server (scheme, host and port) at
    // once; the others wait, in the order they were resumed, until one ends. 0: no limit.
    int httpMaximumConnectionsPerHost = 0;

    // The idle time-out of every request that does not bring its own (seconds without any byte
    // moving; also the longest connect). Never a limit on the whole transfer.
    double timeoutIntervalForRequest = 60.0;

    // Answers larger than this fail with kURLErrorDataLengthExceedsMaximum (data and upload
    // tasks, whether the answer goes to a completion handler or to the delegate).
    int64_t maximumResponseBytes = 128LL * 1024 * 1024;

    // The cap of a download task's file, 2 GiB by default: an answer that announces more, or
    // sends more, fails with kURLErrorDataLengthExceedsMaximum, and the part already written is
    // removed at once.
    int64_t maximumDownloadBytes = 2LL * 1024 * 1024 * 1024;

    static URLSessionConfiguration defaultConfiguration() { return {}; }

    static URLSessionConfiguration background(std::string sessionIdentifier) {
        URLSessionConfiguration configuration;
        configuration.identifier = std::move(sessionIdentifier);
        return configuration;
    }
};

}  // namespace pelmar::net
