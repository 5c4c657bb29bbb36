#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/ImageManagerSettings.h"
#include "pelmar/imageloader/internal/ImageRequestRegistry.h"

namespace pelmar::imageloader::internal {

// RemoteImageManagerPeer: what the image loader's own objects and tests see of a manager beyond
// its public interface: the current settings (the download tasks read the progressive-render
// ones), the request it would send, the registry's counts, a hook before each join, and a fresh
// shared manager. Ownership: refers to a manager its caller keeps alive. Threads: as the manager:
// thread-safe. Errors: none.
class RemoteImageManagerPeer {
public:
    explicit RemoteImageManagerPeer(PelmarRemoteImageManager& manager) : manager_(manager) {}

    std::shared_ptr<const ImageManagerSettings> settings() { return manager_.settings_->current(); }

    net::URLRequest requestWithURL(const std::string& url,
                                   const std::shared_ptr<PelmarRemoteImageTask>& task) {
        return manager_.requestWithURL(url, task);
    }

    // Registered tasks, the UUIDs they answer, and the registrations still queued together with
    // the cancellations waiting for them.
    std::size_t taskCount() { return manager_.registry_->taskCount(); }

    std::size_t registeredUUIDCount() { return manager_.registry_->uuidCount(); }

    std::size_t canceledTaskCount() { return manager_.registry_->waitingCount(); }

    // Runs `hook` with the joining UUID just before each registration joins its key's task
    // (ImageRequestRegistry::setBeforeJoin).
    void setBeforeJoin(std::function<void(const std::string& uuid)> hook) {
        manager_.registry_->setBeforeJoin(std::move(hook));
    }

    // The next use of the shared manager makes a new one, whichever test made the last.
    static void forgetSharedImageManager() { PelmarRemoteImageManager::forgetSharedImageManager(); }

private:
    PelmarRemoteImageManager& manager_;
};

}  // namespace pelmar::imageloader::internal
