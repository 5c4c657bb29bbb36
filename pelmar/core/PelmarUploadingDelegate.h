#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Json.h"

// PelmarUploadingDelegate: what the host app hears about uploads. Every method is optional: the
// default does nothing.
// Ownership: held strongly by the facade (set by the host app).
// Threads: called on the thread where the event arises (see each method); implementations must be
//     thread-safe.
// Errors: failures arrive as `failedToUpload` or as the `error` argument.

namespace pelmar::net {
class URLSessionTask;
class HTTPURLResponse;
}  // namespace pelmar::net

namespace pelmar {

class PelmarUploadingDelegate {
public:
    using Response = std::shared_ptr<const net::HTTPURLResponse>;

    virtual ~PelmarUploadingDelegate() = default;

    // On the caller's thread, before the create request.
    virtual void preparingToUpload(const std::string& /*path*/) {}

    virtual void failedToUpload(const std::string& /*path*/) {}

    // In the create request's completion, once the transfer is queued.
    virtual void uploadStarted(const std::string& /*path*/,
                               const std::string& /*token*/,
                               const std::string& /*streamToken*/,
                               const std::shared_ptr<net::URLSessionTask>& /*backgroundTask*/) {}

    // On the upload's own queue; byte counts over the whole multipart body.
    virtual void uploadProgress(const std::string& /*path*/,
                                const std::string& /*token*/,
                                const std::string& /*streamToken*/,
                                int64_t /*totalBytesSent*/,
                                int64_t /*totalBytesExpectedToSend*/) {}

    virtual void uploadFinished(const std::string& /*path*/,
                                const std::string& /*token*/,
                                const std::string& /*streamToken*/) {}

    // In the confirm request's completion, with its outcome.
    virtual void uploadVerified(const std::string& /*path*/,
                                const std::string& /*token*/,
                                const std::string& /*streamToken*/,
                                const Response& /*response*/,
                                const std::optional<Error>& /*error*/,
                                const std::optional<Json>& /*json*/) {}

    // Every second on the main queue while an upload runs.
    virtual void uploadProcessing(const std::string& /*path*/,
                                  const std::string& /*token*/,
                                  const std::string& /*streamToken*/) {}

    virtual void uploadProcessed(const std::string& /*path*/,
                                 const std::string& /*token*/,
                                 const std::string& /*streamToken*/) {}

    // After a delete request completed ("delete:streamToken:response:error:json:"; `delete` is a
    // C++ keyword).
    virtual void deleted(const std::string& /*token*/,
                         const std::string& /*streamToken*/,
                         const Response& /*response*/,
                         const std::optional<Error>& /*error*/,
                         const std::optional<Json>& /*json*/) {}

    virtual void cancelUpload(const std::string& /*path*/, bool /*deleteFile*/) {}

    virtual void cancelCurrentUpload(const std::string& /*path*/) {}
};

}  // namespace pelmar
