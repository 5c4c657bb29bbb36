#include "pelmar/core/testing/RecordingUploadingDelegate.h"

#include <algorithm>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLSession.h"

namespace pelmar::test {

ThreadKind currentThreadKind() {
    if (dispatch::isMainThread()) {
        return ThreadKind::Main;
    }
    if (net::URLSession::shared()->delegateQueue()->isCurrent()) {
        return ThreadKind::SharedSession;
    }
    return ThreadKind::Other;
}

std::vector<UploadEvent> RecordingUploadingDelegate::events() const {
    pelmar::MutexLock lock(mutex_);
    return events_;
}

std::vector<std::string> RecordingUploadingDelegate::names() const {
    std::vector<std::string> out;
    for (const auto& event : events()) {
        if (event.name == "uploadProgress" && !out.empty() && out.back() == "uploadProgress") {
            continue;
        }
        out.push_back(event.name);
    }
    return out;
}

size_t RecordingUploadingDelegate::count(const std::string& name) const {
    pelmar::MutexLock lock(mutex_);
    return static_cast<size_t>(std::count_if(events_.begin(), events_.end(),
                                             [&](const UploadEvent& e) { return e.name == name; }));
}

void RecordingUploadingDelegate::clear() {
    pelmar::MutexLock lock(mutex_);
    events_.clear();
}

namespace {

UploadEvent event(std::string name,
                  std::string path,
                  std::string token = {},
                  std::string streamToken = {}) {
    UploadEvent out;
    out.name = std::move(name);
    out.path = std::move(path);
    out.token = std::move(token);
    out.streamToken = std::move(streamToken);
    return out;
}

}  // namespace

void RecordingUploadingDelegate::add(UploadEvent recorded) {
    recorded.thread = currentThreadKind();
    pelmar::MutexLock lock(mutex_);
    events_.push_back(std::move(recorded));
}

void RecordingUploadingDelegate::preparingToUpload(const std::string& path) {
    add(event("preparingToUpload", path));
}

void RecordingUploadingDelegate::failedToUpload(const std::string& path) {
    add(event("failedToUpload", path));
}

void RecordingUploadingDelegate::uploadStarted(const std::string& path,
                                               const std::string& token,
                                               const std::string& streamToken,
                                               const std::shared_ptr<net::URLSessionTask>&) {
    add(event("uploadStarted", path, token, streamToken));
}

void RecordingUploadingDelegate::uploadProgress(const std::string& path,
                                                const std::string& token,
                                                const std::string& streamToken,
                                                int64_t totalBytesSent,
                                                int64_t totalBytesExpectedToSend) {
    UploadEvent e = event("uploadProgress", path, token, streamToken);
    e.sent = totalBytesSent;
    e.expected = totalBytesExpectedToSend;
    add(std::move(e));
}

void RecordingUploadingDelegate::uploadFinished(const std::string& path,
                                                const std::string& token,
                                                const std::string& streamToken) {
    add(event("uploadFinished", path, token, streamToken));
}

void RecordingUploadingDelegate::uploadVerified(const std::string& path,
                                                const std::string& token,
                                                const std::string& streamToken,
                                                const Response& response,
                                                const std::optional<Error>& error,
                                                const std::optional<Json>& json) {
    UploadEvent e = event("uploadVerified", path, token, streamToken);
    e.status = response ? response->statusCode() : 0;
    e.error = error;
    e.json = json;
    add(std::move(e));
}

void RecordingUploadingDelegate::uploadProcessing(const std::string& path,
                                                  const std::string& token,
                                                  const std::string& streamToken) {
    add(event("uploadProcessing", path, token, streamToken));
}

void RecordingUploadingDelegate::uploadProcessed(const std::string& path,
                                                 const std::string& token,
                                                 const std::string& streamToken) {
    add(event("uploadProcessed", path, token, streamToken));
}

void RecordingUploadingDelegate::deleted(const std::string& token,
                                         const std::string& streamToken,
                                         const Response& response,
                                         const std::optional<Error>& error,
                                         const std::optional<Json>& json) {
    UploadEvent e = event("deleted", "", token, streamToken);
    e.status = response ? response->statusCode() : 0;
    e.error = error;
    e.json = json;
    add(std::move(e));
}

void RecordingUploadingDelegate::cancelUpload(const std::string& path, bool deleteFile) {
    UploadEvent e = event("cancelUpload", path);
    e.sent = deleteFile ? 1 : 0;
    add(std::move(e));
}

}  // namespace pelmar::test
