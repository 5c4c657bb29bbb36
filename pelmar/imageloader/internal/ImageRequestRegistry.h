#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageTask.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"

namespace pelmar::imageloader::internal {

// ImageRequestRegistry: the image manager's book of requests in flight. One task per cache key
// (identical requests join it), the task each caller's UUID belongs to, and the UUIDs whose
// registration is still queued together with those of them cancelled meanwhile (the
// registration consumes both marks, so neither set outlives its requests).
// Ownership: owned by its manager; holds the tasks strongly and the UUID links weakly.
// Threads: thread-safe. Its lock ("PelmarRemoteImageManager registry", not recursive) is taken
//     before a task lock and never around a caller's block: under it tasks only queue their
//     completions on the callback queue, take callers in and let them go.
// Errors: none.
class ImageRequestRegistry {
public:
    using Task = std::shared_ptr<PelmarRemoteImageTask>;

    // The registration of `uuid` is queued.
    void markPending(const std::string& uuid) PELMAR_EXCLUDES(lock_);

    // The task of `key`, or null.
    Task taskForKey(const std::string& key) PELMAR_EXCLUDES(lock_);

    // Whether `key` still belongs to `task`.
    bool holds(const std::string& key, const Task& task) PELMAR_EXCLUDES(lock_);

    // Lets a test place an event just before each join takes the registry lock (`hook` gets
    // the joining UUID, on the joining thread, with no lock held); an empty hook removes it.
    void setBeforeJoin(std::function<void(const std::string& uuid)> hook) PELMAR_EXCLUDES(lock_);

    // What a join did: the task the caller joined (null when the caller was cancelled while
    // its registration waited), whether that task is new, or that the key has no task and the
    // caller must make one.
    struct Joined {
        Task task;
        bool isNew = false;
        bool needsTask = false;
    };

    // Joins the caller `uuid` with its blocks to the task of `key`. When the key has none,
    // `made` becomes it; without `made` nothing changes and the answer says that a task is
    // needed, so that the caller makes it (and whatever the making calls) outside the lock and
    // joins again with it. A `made` that the key no longer needs stays with the caller.
    Joined join(const std::string& uuid,
                const std::string& key,
                const Task& made,
                const PelmarImageCompletion& completion,
                const PelmarImageCompletion& progressImage,
                const PelmarImageProgressDownload& progressDownload) PELMAR_EXCLUDES(lock_);

    // The task the caller `uuid` belongs to, or null.
    Task taskForUUID(const std::string& uuid) PELMAR_EXCLUDES(lock_);

    // Takes the caller `uuid` off its task (and the task off the books when no caller is left),
    // or marks a registration still queued as cancelled. Returns the task it left, so that
    // `resume` (filled by a download task that keeps a nearly finished transfer) can be stored.
    Task cancel(const std::string& uuid, std::optional<PelmarResume>* resume)
            PELMAR_EXCLUDES(lock_);

    // Every caller's UUID.
    std::vector<std::string> uuids() PELMAR_EXCLUDES(lock_);

    // Hands the result to every caller of `key`'s task (queued on the callback queue); when
    // `finalized`, the task and its callers leave the books.
    void callCompletions(const std::string& key,
                         const PelmarImage& image,
                         const PelmarImageRepresentation& alternativeRepresentation,
                         bool cached,
                         const std::shared_ptr<const net::HTTPURLResponse>& response,
                         const std::optional<Error>& error,
                         bool finalized) PELMAR_EXCLUDES(lock_);

    std::size_t taskCount() PELMAR_EXCLUDES(lock_);
    std::size_t uuidCount() PELMAR_EXCLUDES(lock_);
    // Registrations still queued, and cancellations waiting for them.
    std::size_t waitingCount() PELMAR_EXCLUDES(lock_);

private:
    // Takes the task off the books (only when `key` still belongs to it) with its callers.
    void l_unregister(const std::string& key, const Task& task) PELMAR_REQUIRES(lock_);

    PelmarRemoteLock lock_{"PelmarRemoteImageManager registry"};
    std::unordered_map<std::string, Task> tasks_ PELMAR_GUARDED_BY(lock_);
    std::unordered_map<std::string, std::weak_ptr<PelmarRemoteImageTask>> UUIDToTask_
            PELMAR_GUARDED_BY(lock_);
    std::set<std::string> pendingRegistrations_ PELMAR_GUARDED_BY(lock_);
    std::set<std::string> canceledTasks_ PELMAR_GUARDED_BY(lock_);
    std::function<void(const std::string& uuid)> beforeJoin_ PELMAR_GUARDED_BY(lock_);
};

}  // namespace pelmar::imageloader::internal
