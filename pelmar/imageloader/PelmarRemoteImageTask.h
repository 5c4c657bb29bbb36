#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManagerPriority.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

class PelmarRemoteImageManager;

// PelmarResume: the bytes of a download that was cancelled, with the validator a range request
// needs to continue it and the length of the whole resource.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: none.
struct PelmarResume {
    std::string resumeData;  // from the start of the resource
    std::string ifRange;     // a strong ETag or a Last-Modified date
    int64_t totalBytes = 0;

    bool operator==(const PelmarResume&) const = default;
};

using PelmarImageCompletion = std::function<void(const PelmarImageResult& result)>;
// Bytes received and expected (-1 when unknown).
using PelmarImageProgressDownload = std::function<void(int64_t received, int64_t expected)>;

// The callbacks one request registered with a task; any may be empty.
struct PelmarRemoteImageCallbacks {
    PelmarImageCompletion completionBlock;
    // Receives intermediate renders (result type Progressive).
    PelmarImageCompletion progressImageBlock;
    PelmarImageProgressDownload progressDownloadBlock;
    // Seconds on the installed clock when the callbacks were made.
    double requestTime = 0;
};

// PelmarRemoteImageTask: what the image manager keeps per cache key: the callbacks of every
// request waiting for that image, each under the request's UUID, answered together when the
// image is ready.
// Ownership: made with std::make_shared by the manager, which holds it in its tasks table; refers
//     to its manager weakly and to the callback queue strongly.
// Threads: thread-safe; the task lock ("Task Lock", not recursive) guards the callbacks and the
//     subclasses' own state. Methods named l_ expect the caller to hold it. Completions run on
//     the callback queue, never under the lock.
// Errors: none.
class PelmarRemoteImageTask : public std::enable_shared_from_this<PelmarRemoteImageTask> {
public:
    explicit PelmarRemoteImageTask(std::string key,
                                   std::shared_ptr<dispatch::Queue> callbackQueue = nullptr,
                                   std::weak_ptr<PelmarRemoteImageManager> manager = {})
        : key_(std::move(key)), callbackQueue_(std::move(callbackQueue)), manager_(manager) {}

    virtual ~PelmarRemoteImageTask() = default;

    PelmarRemoteImageTask(const PelmarRemoteImageTask&) = delete;
    PelmarRemoteImageTask& operator=(const PelmarRemoteImageTask&) = delete;

    const std::string& key() const { return key_; }

    std::shared_ptr<PelmarRemoteImageManager> manager() const { return manager_.lock(); }

    // Stores the callbacks under `uuid` (replacing an earlier entry), their request time now.
    void addCallbacks(const std::string& uuid, PelmarRemoteImageCallbacks callbacks);

    void addCallbacksWithCompletionBlock(PelmarImageCompletion completion,
                                         PelmarImageCompletion progressImage,
                                         PelmarImageProgressDownload progressDownload,
                                         const std::string& uuid);

    void removeCallbackWithUUID(const std::string& uuid);

    void l_removeCallbackWithUUID(const std::string& uuid) PELMAR_REQUIRES(lock_);

    // A copy of the callbacks, taken under the lock.
    std::map<std::string, PelmarRemoteImageCallbacks> callbackBlocks();

    std::size_t callbackCount();

    // Replaces the progress-image block of `uuid`'s callbacks; nothing when it has none.
    void setProgressImageBlock(const std::string& uuid, PelmarImageCompletion progressImage);

    // Posts one result per callback that has a completion block to the callback queue (type None
    // with neither image nor representation, else CacheHit when `cached`, else Downloaded; the
    // duration is measured when the job runs). With `remove` every callback is dropped after.
    void callCompletionsWithImage(const PelmarImage& image,
                                  const PelmarImageRepresentation& alternativeRepresentation,
                                  bool cached,
                                  const std::shared_ptr<const net::HTTPURLResponse>& response,
                                  const std::optional<Error>& error,
                                  bool remove);

    // Removes the UUID's callbacks; true when none are left. `resume`, when given, receives the
    // resume record a subclass leaves behind (none in the base class).
    virtual bool cancelWithUUID(const std::string& uuid, std::optional<PelmarResume>* resume);

    virtual void setPriority(PelmarRemoteImageManagerPriority /*priority*/) {}

    void lock() PELMAR_ACQUIRE(lock_) { lock_.lock(); }

    void unlock() PELMAR_RELEASE(lock_) { lock_.unlock(); }

    // "<ClassName: 0x...> completionBlocks: N"
    std::string description();

protected:
    bool l_cancelWithUUID(const std::string& uuid) PELMAR_REQUIRES(lock_);

    virtual const char* className() const { return "PelmarRemoteImageTask"; }

    PelmarRemoteLock lock_{"Task Lock"};
    std::map<std::string, PelmarRemoteImageCallbacks> callbackBlocks_ PELMAR_GUARDED_BY(lock_);

private:
    const std::string key_;
    const std::shared_ptr<dispatch::Queue> callbackQueue_;
    const std::weak_ptr<PelmarRemoteImageManager> manager_;
};

// PelmarRemoteImageProcessorTask: a task whose callers wait for a processed image; it keeps the
// UUID of the inner request that downloads the unprocessed image, and cancels that request when
// its last caller cancels.
// Ownership, Threads, Errors: as PelmarRemoteImageTask; the inner cancel is scheduled on the
//     manager without taking the manager lock.
class PelmarRemoteImageProcessorTask : public PelmarRemoteImageTask {
public:
    using PelmarRemoteImageTask::PelmarRemoteImageTask;

    std::optional<std::string> downloadTaskUUID();

    void setDownloadTaskUUID(std::optional<std::string> uuid);

    std::optional<std::string> l_downloadTaskUUID() PELMAR_REQUIRES(lock_) {
        return downloadTaskUUID_;
    }

    void l_setDownloadTaskUUID(std::optional<std::string> uuid) PELMAR_REQUIRES(lock_) {
        downloadTaskUUID_ = std::move(uuid);
    }

    bool cancelWithUUID(const std::string& uuid, std::optional<PelmarResume>* resume) override;

protected:
    const char* className() const override { return "PelmarRemoteImageProcessorTask"; }

private:
    std::optional<std::string> downloadTaskUUID_ PELMAR_GUARDED_BY(lock_);
};

}  // namespace pelmar
