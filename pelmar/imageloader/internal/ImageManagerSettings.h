#pragma once

#include <memory>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::imageloader::internal {

// ImageManagerSettings: what the image manager's configuration setters change, read together
// as one value by the paths that use it.
// Ownership: a plain value type; the host blocks it holds are shared by its copies.
// Threads: thread-compatible.
// Errors: none.
struct ImageManagerSettings {
    double estimatedRemainingTimeThreshold = 0;
    std::vector<float> progressThresholds;
    float highQualityBPSThreshold = 0;
    float lowQualityBPSThreshold = 0;
    bool shouldUpgradeLowQualityImages = false;
    bool shouldBlurProgressive = false;
    PelmarSize maxProgressiveRenderSize;
    PelmarRemoteImageManager::RetryStrategyCreationBlock retryStrategyCreationBlock;
    PelmarRemoteImageManager::MetricsCallback metricsCallback;
    PelmarRemoteImageManager::AuthenticationChallengeHandler authenticationChallengeHandler;
    PelmarRemoteImageManager::RequestConfigurationHandler requestConfigurationHandler;
    net::HTTPHeaderFields httpHeaderFields;
};

// ImageManagerSettingsStore: the current settings as an immutable snapshot. A reader takes the
// snapshot and uses it without any lock, so a host block in it runs lock-free; a change makes a
// new snapshot and publishes it, and the one it replaces (with any block only it held) goes
// when its last reader lets go, never under the store's locks.
// Ownership: owned by its manager.
// Threads: thread-safe. Changes are serialised on their own mutex (a leaf while the change
//     runs); the snapshot pointer is guarded by a leaf lock held only to copy or swap it.
// Errors: none.
class ImageManagerSettingsStore {
public:
    explicit ImageManagerSettingsStore(ImageManagerSettings initial)
        : current_(std::make_shared<const ImageManagerSettings>(std::move(initial))) {}

    std::shared_ptr<const ImageManagerSettings> current() PELMAR_EXCLUDES(lock_) {
        PelmarRemoteLock::Hold lock(lock_);
        return current_;
    }

    // Applies `change` to a copy of the current settings and publishes it.
    template <class Change>
    void update(Change change) PELMAR_EXCLUDES(lock_, writers_) {
        std::shared_ptr<const ImageManagerSettings> previous;
        {
            MutexLock writer(writers_);
            auto next = std::make_shared<ImageManagerSettings>(*current());
            change(*next);
            previous = std::move(next);
            PelmarRemoteLock::Hold lock(lock_);
            std::swap(current_, previous);
        }
    }

private:
    Mutex writers_;
    PelmarRemoteLock lock_{"PelmarRemoteImageManager settings"};
    std::shared_ptr<const ImageManagerSettings> current_ PELMAR_GUARDED_BY(lock_);
};

}  // namespace pelmar::imageloader::internal
