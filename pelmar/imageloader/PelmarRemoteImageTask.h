#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManagerPriority.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"

namespace pelmar {

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

// The callbacks one request registered with a task.
struct PelmarRemoteImageCallbacks {
    // Bytes received and expected (-1 when unknown), on the callback queue.
    std::function<void(int64_t received, int64_t expected)> progressDownloadBlock;
};

// PelmarRemoteImageTask: what the image manager keeps per image being loaded: the callbacks of
// every request waiting for it, each under the request's UUID.
// Ownership: made with std::make_shared by its owner and held by shared_ptr.
// Threads: thread-safe; the task lock ("Task Lock", not recursive) guards the callbacks and the
//     subclasses' own state. Methods named l_ expect the caller to hold it.
// Errors: none.
class PelmarRemoteImageTask : public std::enable_shared_from_this<PelmarRemoteImageTask> {
public:
    explicit PelmarRemoteImageTask(std::string key) : key_(std::move(key)) {}

    virtual ~PelmarRemoteImageTask() = default;

    PelmarRemoteImageTask(const PelmarRemoteImageTask&) = delete;
    PelmarRemoteImageTask& operator=(const PelmarRemoteImageTask&) = delete;

    const std::string& key() const { return key_; }

    // Replaces an earlier entry of the same UUID.
    void addCallbacks(const std::string& uuid, PelmarRemoteImageCallbacks callbacks);

    std::size_t callbackCount();

    // Removes the UUID's callbacks; true when none are left. `resume`, when given, receives the
    // resume record a subclass leaves behind (none in the base class).
    virtual bool cancelWithUUID(const std::string& uuid, std::optional<PelmarResume>* resume);

    virtual void setPriority(PelmarRemoteImageManagerPriority /*priority*/) {}

    void lock() PELMAR_ACQUIRE(lock_) { lock_.lock(); }

    void unlock() PELMAR_RELEASE(lock_) { lock_.unlock(); }

protected:
    bool l_cancelWithUUID(const std::string& uuid) PELMAR_REQUIRES(lock_);

    PelmarRemoteLock lock_{"Task Lock"};
    std::map<std::string, PelmarRemoteImageCallbacks> callbackBlocks_ PELMAR_GUARDED_BY(lock_);

private:
    const std::string key_;
};

}  // namespace pelmar
