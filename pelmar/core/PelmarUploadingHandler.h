#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/core/ContentModel.h"
#include "pelmar/core/PelmarEnums.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/sync/Mutex.h"

// PelmarUploadingHandler: the upload engine. It runs the service's media API for one media kind per
// call (list, get, update, confirm, delete, file URLs, downloads into the local cache) and uploads
// a local file in three steps: create the resource, transfer the file as a multipart form, confirm
// it, telling the facade's uploading delegate about every step.
// Ownership: made by the facade with create() and owned by it; refers back to the facade without
//     owning it and stops using it once the facade ends. Requests, uploads and ticks in flight hold
//     the handler weakly. Each upload has its own job (tokens, transfer task, tick) that keeps the
//     caller's closures until the upload has ended. The handler's (or the facade's) end, in any
//     step of an upload, leaves the caller's closures the same promise: the step under way still
//     answers its own closure (callback the create answer, progress the transfer under way,
//     confirmCallback the confirm answer) and the upload ends with exactly one confirmCallback; a
//     step that cannot go on without the handler (a create answered, a transfer ended) ends it
//     with kUploadErrorNoService (or the step's own failure). From that end on the delegate hears
//     nothing more of the upload (not even uploadProcessed after an uploadVerified under way), no
//     further request is made for it and its tick is stopped. So a caller keeps what its closures
//     use until confirmCallback has run.
// Threads: thread-safe; one mutex guards the list of uploads and each upload
// (core::internal::UploadJob)
//     has a leaf lock of its own; neither is held while calling out. preparingToUpload arrives on
//     the caller's thread; callback, failedToUpload (create stage), uploadStarted, confirmCallback,
//     uploadVerified and uploadProcessed on the HTTP client's completion queue; progress,
//     uploadProgress, uploadFinished and a transfer's failure on the upload's own queue;
//     uploadProcessing every second on the main queue; download callbacks on the main queue. Ticks
//     are made and stopped on the main queue only. A transfer's events wait until uploadStarted has
//     returned, so the delegate always hears started first.
// Errors: callbacks get the HTTP client's errors, or kUploadErrorDomain errors: a token that may
//     not enter a URL path (empty, ".", "..", or characters outside A-Z a-z 0-9 . _ ~ -), a file
//     path that cannot be used, an empty (0-byte) file, a create answer without tokens or upload
//     URL, a storage or create answer with a non-2xx status, a list answer with a non-2xx status or
//     that is not a JSON array, a cancelled upload, a facade that has ended. Answers are otherwise
//     handed on as they came (callers judge the status of get, update, confirm and delete answers
//     themselves).
// Example:
//     facade->uploadingHandler()->upload(Media_Type::Video, "/data/clip.mp4", std::nullopt,
//             nullptr, nullptr, [](auto json, auto response, auto error) {
//                 /* the confirm answer, or the error that ended the upload */ });

namespace pelmar::core::internal {
class FacadeLink;
class UploadJob;
}  // namespace pelmar::core::internal

namespace pelmar {

class Pelmar;
class PelmarConnect;
class PelmarUploadingDelegate;

inline constexpr std::string_view kUploadErrorDomain = "pelmar.upload";

enum UploadErrorCode : long {
    kUploadErrorInvalidToken = 1,
    kUploadErrorUnusablePath = 2,
    kUploadErrorBadCreateAnswer = 3,
    kUploadErrorHTTPStatus = 4,
    kUploadErrorCancelled = 5,
    kUploadErrorNoService = 6,
    kUploadErrorBadAnswer = 7,
    kUploadErrorEmptyFile = 8,
    kUploadErrorUnknownMediaKind = 9,
};

class PelmarUploadingHandler : public std::enable_shared_from_this<PelmarUploadingHandler> {
    struct Private {};

public:
    using Task = std::shared_ptr<net::URLSessionTask>;
    using Response = std::shared_ptr<const net::HTTPURLResponse>;
    // (answer dictionary, response, error).
    using AnswerCallback = std::function<void(std::optional<Json>, Response, std::optional<Error>)>;
    // (total bytes sent, total bytes expected to send), over the whole multipart body.
    using ProgressCallback = std::function<void(int64_t, int64_t)>;
    using ListCallback = std::function<void(std::vector<ContentModel>, std::optional<Error>)>;
    using ModelCallback = std::function<void(ContentModel, Response, std::optional<Error>)>;
    using UpdateCallback =
            std::function<void(std::optional<ContentModel>, Response, std::optional<Error>)>;
    // A local path in the cache, the remote file URL when the download failed, or "" for a token
    // that may not be used.
    using DownloadCallback = std::function<void(std::string)>;

    static constexpr double kProcessingTickSeconds = 1.0;

    static std::shared_ptr<PelmarUploadingHandler> create(Pelmar& application);

    PelmarUploadingHandler(Private, Pelmar& application);

    ~PelmarUploadingHandler();

    PelmarUploadingHandler(const PelmarUploadingHandler&) = delete;
    PelmarUploadingHandler& operator=(const PelmarUploadingHandler&) = delete;

    // The kind's API base + "/v1/applications/" + app token + "/videos", "/audios" or "/images"
    // + `path`; "" once the facade has ended.
    std::string getApiUrl(Media_Type type, std::string_view path) const;

    // The file URL: CDN API base (video) or media file server (audio, image) +
    // "/v1/applications/" + app token + "/videos/" (...) + token + "/video.mp4", "/audio.aac" or
    // "/image.jpg". "" for an unsafe token.
    std::string getPath(Media_Type type, std::string_view token) const;

    // GET of the collection (no parameters; `data` is not sent): one item per answer element,
    // a cleared item for an element that is not an object. A non-2xx status or an answer that
    // is not a JSON array gives no items and an error.
    void index(Media_Type type, std::optional<Json> data, ListCallback callback);

    // GET of one resource with `data` as parameters; the item comes from the whole answer
    // (video) or its "audio" / "image" object, and is cleared when that is missing.
    void get(Media_Type type, std::string token, std::optional<Json> data, ModelCallback callback);

    // Uploads the file at `path` (a path, or a "file://" URL whose decoded path is used). `data`
    // goes with the create request only. A missing, unreadable or empty (0-byte) file is refused
    // before any request. Every upload that got past preparingToUpload ends with
    // exactly one confirmCallback: the confirm answer, or the error that ended it (create failure,
    // unusable create answer, failed or refused transfer, cancel, a handler that went first; see
    // Ownership). Failures other than a cancel are also told to the delegate's failedToUpload
    // while the facade lives. Nothing is confirmed after a failure.
    void upload(Media_Type type,
                std::string path,
                std::optional<Json> data,
                AnswerCallback callback,
                ProgressCallback progress,
                AnswerCallback confirmCallback);

    // POST of `data` to the resource (empty `streamToken`) or to its stream.
    void update(Media_Type type,
                std::string token,
                std::string streamToken,
                std::optional<Json> data,
                UpdateCallback callback);

    // POST to ".../<token>/streams/<stream>/confirm-video" (video) or ".../<token>/confirm".
    void confirm(Media_Type type,
                 std::string token,
                 std::string streamToken,
                 std::optional<Json> data,
                 AnswerCallback callback);

    // DELETE of the resource (empty `streamToken`) or of its stream; then the delegate's
    // `deleted`.
    void deleteResource(Media_Type type,
                        std::string token,
                        std::string streamToken,
                        AnswerCallback callback);

    // Streams the file into a temporary file, off the main queue, and renames it over the cache
    // file of the token only when the whole answer (2xx) arrived, so a failed refetch keeps the
    // cached copy. Then trims the kind's cache, never removing the file just written.
    void download(Media_Type type, std::string token, DownloadCallback callback);

    // The end of an upload: stops the processing tick of the uploads started from `path` (as
    // given, or as a local path), then tells the delegate uploadVerified (with the confirm
    // answer, response and error) and uploadProcessed, on the caller's thread.
    void uploadCompleted(Media_Type type,
                         const std::string& path,
                         const std::string& token,
                         const std::string& streamToken,
                         const std::optional<Json>& confirmJsonObject,
                         const Response& confirmResponse,
                         const std::optional<Error>& confirmError);

    // Cancels the upload whose path (as given, or as a local path) is `path`, or the one whose
    // transfer is running when `path` is empty or absent (else the oldest unfinished one). With
    // `deleteFile` and a non-empty path, the file is removed even when no upload matches.
    void cancelUpload(const std::optional<std::string>& path, bool deleteFile);

    // Stops the processing ticks of every upload.
    void stopTimer();

    // Uploads started and not yet ended.
    size_t activeUploads() const;

    // Whether an upload started from `path` (as given, or as a local path) has not ended yet, so
    // that its file may still be read.
    bool isReading(const std::string& path) const;

    // The facade ends: later operations fail with kUploadErrorNoService.
    void detachApplication();

private:
    std::shared_ptr<PelmarUploadingDelegate> delegate() const;

    std::shared_ptr<PelmarConnect> connect() const;

    std::optional<std::string> appToken() const;

    // Runs `block` later on the HTTP client's completion queue (errors found before a request).
    static void deliverLater(std::function<void()> block);

    // Calls `callback` (when set) with `args` later, the way deliverLater runs blocks.
    template <class Callback, class... Args>
    static void failLater(Callback callback, Args... args) {
        deliverLater([callback = std::move(callback), args...] {
            if (callback) {
                callback(args...);
            }
        });
    }

    // The steps of one upload (create answered, transfer ended, failed, confirmed).
    struct UploadSteps;

    // The unfinished uploads started from `path` (as given, or as a local path).
    std::vector<std::shared_ptr<core::internal::UploadJob>> uploadsFrom(
            const std::string& path) const;

    void tellCompleted(const std::string& path,
                       const std::string& token,
                       const std::string& streamToken,
                       const Response& response,
                       const std::optional<Error>& error,
                       const std::optional<Json>& json);

    void forget(const std::shared_ptr<core::internal::UploadJob>& job);

    const std::unique_ptr<core::internal::FacadeLink> application_;

    mutable Mutex mutex_;
    std::vector<std::shared_ptr<core::internal::UploadJob>> uploads_
            PELMAR_GUARDED_BY(mutex_);  // in start order
    std::atomic<uint64_t> nextUploadId_{1};
};

}  // namespace pelmar
