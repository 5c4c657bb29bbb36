#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/ServiceTypes.h"

// RequestLog: every request the service emulator received, with what it answered, for tests.
// Ownership: owned by ServiceEmulator; readers get copies (snapshots).
// Threads: thread-safe (one mutex); waitUntil() blocks only its caller.
// Errors: none; matching() throws std::regex_error for an invalid pattern.
// Limits: keeps the newest kMaxEntries entries (dropped() counts the others) and the first kBodyCap
//     bytes of each body (bodySize is always the full count).

namespace pelmar::test {

// What the emulator read from a multipart upload body (complete or not).
struct MultipartSummary {
    FieldList fields;  // field parts in body order
    bool hasFile = false;
    std::string fileFieldName;
    std::string fileName;
    std::string fileContentType;
    FieldList fileHeaders;  // the file part's header lines as sent
    uint64_t fileSize = 0;
    std::string fileSha256;  // lower-case hex of the file part's bytes
};

struct LoggedRequest {
    uint64_t sequence = 0;           // when the request head arrived (1, 2, ...)
    uint64_t completedSequence = 0;  // when it was answered; same counter as `sequence`
    Role role = Role::Api;
    std::string hostAddress;  // local address that received it, e.g. "127.0.0.3"
    int port = 0;
    std::string method;
    std::string target;                // request target as sent (path, "?", query)
    std::string path;                  // raw path, not decoded
    std::optional<std::string> query;  // raw text after '?'; std::nullopt without a '?'
    FieldList queryParams;             // decoded form pairs of the query
    FieldList headers;                 // header lines as received (order is by name)
    std::string body;                  // first RequestLog::kBodyCap bytes
    uint64_t bodySize = 0;
    FieldList formParams;  // decoded body of application/x-www-form-urlencoded requests
    std::optional<MultipartSummary> multipart;  // storage uploads
    int status = 0;                             // answer status; 0 when none was sent
    std::string error;                          // why it was refused, or what a fault did
    bool connectionCut = false;                 // a scripted fault closed the connection

    std::optional<std::string> header(std::string_view name) const;  // ASCII case-insensitive
    std::optional<std::string> queryParam(std::string_view name) const;
    std::optional<std::string> formParam(std::string_view name) const;
    // Query first, then form body.
    std::optional<std::string> param(std::string_view name) const;
};

class RequestLog {
public:
    static constexpr size_t kMaxEntries = 10000;
    static constexpr size_t kBodyCap = 16 * 1024;

    uint64_t nextSequence();

    // Stamps completedSequence and stores the entry.
    void append(LoggedRequest entry);

    std::vector<LoggedRequest> snapshot() const;

    // Entries whose method equals `method` ("" for any) and whose raw path matches the ECMAScript
    // regular expression `pathPattern` as a whole.
    std::vector<LoggedRequest> matching(std::string_view method,
                                        const std::string& pathPattern) const;

    void clear();

    uint64_t dropped() const;

    // Waits until `predicate` holds for the entries (checked now and after each append); false
    // on time-out.
    bool waitUntil(const std::function<bool(const std::vector<LoggedRequest>&)>& predicate,
                   std::chrono::milliseconds timeout) const;

private:
    mutable Mutex mutex_;
    mutable CondVar changed_;
    std::deque<LoggedRequest> entries_ PELMAR_GUARDED_BY(mutex_);
    uint64_t sequence_ PELMAR_GUARDED_BY(mutex_) = 0;
    uint64_t dropped_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::test
