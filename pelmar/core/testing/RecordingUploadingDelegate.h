#pragma once

// RecordingUploadingDelegate: an uploading delegate for tests that records every call in order,
// with its arguments and the kind of thread it arrived on.
// Ownership: held by shared_ptr (the facade holds its delegate strongly).
// Threads: thread-safe; events may arrive on any thread.
// Errors: none.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::test {

enum class ThreadKind { Main, SharedSession, Other };

// The kind of the calling thread: the main thread, the shared URL session's delegate queue, or
// anything else (an upload's own queue, a worker).
ThreadKind currentThreadKind();

struct UploadEvent {
    std::string name;  // the method's name: "preparingToUpload", "uploadProgress", ...
    std::string path;
    std::string token;
    std::string streamToken;
    ThreadKind thread = ThreadKind::Other;
    int64_t sent = 0;
    int64_t expected = 0;
    long status = 0;  // uploadVerified and deleted: the answer's status (0 without one)
    std::optional<Error> error;
    std::optional<Json> json;
};

class RecordingUploadingDelegate : public PelmarUploadingDelegate {
public:
    std::vector<UploadEvent> events() const;

    // The names in order, with each run of consecutive uploadProgress calls counted once.
    std::vector<std::string> names() const;

    size_t count(const std::string& name) const;

    void clear();

    void preparingToUpload(const std::string& path) override;
    void failedToUpload(const std::string& path) override;
    void uploadStarted(const std::string& path,
                       const std::string& token,
                       const std::string& streamToken,
                       const std::shared_ptr<net::URLSessionTask>& backgroundTask) override;
    void uploadProgress(const std::string& path,
                        const std::string& token,
                        const std::string& streamToken,
                        int64_t totalBytesSent,
                        int64_t totalBytesExpectedToSend) override;
    void uploadFinished(const std::string& path,
                        const std::string& token,
                        const std::string& streamToken) override;
    void uploadVerified(const std::string& path,
                        const std::string& token,
                        const std::string& streamToken,
                        const Response& response,
                        const std::optional<Error>& error,
                        const std::optional<Json>& json) override;
    void uploadProcessing(const std::string& path,
                          const std::string& token,
                          const std::string& streamToken) override;
    void uploadProcessed(const std::string& path,
                         const std::string& token,
                         const std::string& streamToken) override;
    void deleted(const std::string& token,
                 const std::string& streamToken,
                 const Response& response,
                 const std::optional<Error>& error,
                 const std::optional<Json>& json) override;
    void cancelUpload(const std::string& path, bool deleteFile) override;

private:
    void add(UploadEvent recorded);

    mutable pelmar::Mutex mutex_;
    std::vector<UploadEvent> events_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::test
