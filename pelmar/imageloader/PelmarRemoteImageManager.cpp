#include "pelmar/imageloader/PelmarRemoteImageManager.h"

#include <algorithm>
#include <mutex>

#include "pelmar/imageloader/PelmarAlternateRepresentationProvider.h"
#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/platform/net/URLError.h"

namespace pelmar {

namespace {

constexpr double kDefaultRequestTimeout = 30.0;

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

// Never destroyed: the shared manager serves the whole process, and queued work may still reach
// it while the process exits.
std::shared_ptr<PelmarRemoteImageManager>& sharedManagerSlot() {
    static auto* manager = new std::shared_ptr<PelmarRemoteImageManager>();
    return *manager;
}

}  // namespace

Error PelmarUnsupportedURLError() {
    return net::urlError(net::kURLErrorUnsupportedURL, "unsupported URL");
}

PelmarOperationQueuePriority operationPriorityWithImageManagerPriority(
        PelmarRemoteImageManagerPriority priority) {
    switch (priority) {
        case kPelmarRemoteImageManagerPriorityHigh:
            return kPelmarOperationQueuePriorityHigh;
        case kPelmarRemoteImageManagerPriorityDefault:
            return kPelmarOperationQueuePriorityDefault;
        default:
            return kPelmarOperationQueuePriorityLow;
    }
}

double dataTaskPriorityWithImageManagerPriority(PelmarRemoteImageManagerPriority priority) {
    switch (priority) {
        case kPelmarRemoteImageManagerPriorityHigh:
            return 1.0;
        case kPelmarRemoteImageManagerPriorityDefault:
            return 0.5;
        default:
            return 0.0;
    }
}

std::shared_ptr<PelmarRemoteImageManager> PelmarRemoteImageManager::create(
        std::optional<net::URLSessionConfiguration> sessionConfiguration,
        std::shared_ptr<PelmarRemoteImageManagerAlternateRepresentationProvider> provider,
        std::shared_ptr<PelmarRemoteImageCaching> imageCache,
        std::optional<PelmarRemoteImageManagerConfiguration> configuration,
        std::shared_ptr<PelmarSpeedRecorder> speedRecorder) {
    auto manager = std::make_shared<PelmarRemoteImageManager>(
            Private{}, sessionConfiguration, std::move(provider), std::move(imageCache),
            configuration.value_or(PelmarRemoteImageManagerConfiguration{}),
            std::move(speedRecorder));
    manager->sessionManager_->setDelegate(manager);
    return manager;
}

std::shared_ptr<PelmarRemoteImageManager> PelmarRemoteImageManager::sharedImageManager() {
    std::lock_guard lock(sharedMutex());
    auto& shared = sharedManagerSlot();
    if (!shared) {
        shared = create();
    }
    return shared;
}

void PelmarRemoteImageManager::setSharedImageManagerWithConfiguration(
        std::optional<net::URLSessionConfiguration> configuration,
        std::shared_ptr<PelmarRemoteImageCaching> imageCache) {
    std::lock_guard lock(sharedMutex());
    auto& shared = sharedManagerSlot();
    if (!shared) {
        shared = create(std::move(configuration), nullptr, std::move(imageCache));
    }
}

std::shared_ptr<PelmarRemoteImageCaching> PelmarRemoteImageManager::defaultImageCache() {
    return PelmarRemoteImageBasicCache::create();
}

std::unique_ptr<PelmarRequestRetryStrategy> PelmarRemoteImageManager::defaultRetryStrategy() {
    return std::make_unique<PelmarRequestExponentialRetryStrategy>(3, 4);
}

PelmarRemoteImageManager::PelmarRemoteImageManager(
        Private,
        const std::optional<net::URLSessionConfiguration>& sessionConfiguration,
        std::shared_ptr<PelmarRemoteImageManagerAlternateRepresentationProvider> provider,
        std::shared_ptr<PelmarRemoteImageCaching> imageCache,
        const PelmarRemoteImageManagerConfiguration& configuration,
        std::shared_ptr<PelmarSpeedRecorder> speedRecorder)
    : callbackQueue_(dispatch::Queue::concurrent("PelmarRemoteImageManagerCallbackQueue")),
      mainQueue_(dispatch::Queue::main()),
      speedRecorder_(speedRecorder ? std::move(speedRecorder)
                                   : PelmarSpeedRecorder::sharedRecorder()),
      cache_(imageCache ? std::move(imageCache) : defaultImageCache()),
      // Without a provider of its own, the manager turns animated GIFs into animations.
      hasBuiltInProvider_(!provider),
      provider_(provider ? std::move(provider)
                         : std::make_shared<PelmarAlternateRepresentationProvider>()),
      estimatedRemainingTimeThreshold_(configuration.estimatedRemainingTimeThreshold),
      highQualityBPSThreshold_(configuration.highQualityBPSThreshold),
      lowQualityBPSThreshold_(configuration.lowQualityBPSThreshold),
      shouldUpgradeLowQualityImages_(configuration.shouldUpgradeLowQualityImages),
      shouldBlurProgressive_(configuration.shouldBlurProgressive),
      maxProgressiveRenderSize_(configuration.maxProgressiveRenderSize),
      retryStrategyCreationBlock_(&PelmarRemoteImageManager::defaultRetryStrategy) {
    if (cache_->supportsAgeLimits()) {
        diskCacheTTLIsEnabled_ = cache_->diskCacheIsTTLCache();
        memoryCacheTTLIsEnabled_ = cache_->memoryCacheIsTTLCache();
    }
    if (sessionConfiguration) {
        sessionConfiguration_ = *sessionConfiguration;
    } else {
        sessionConfiguration_.timeoutIntervalForRequest = kDefaultRequestTimeout;
    }
    concurrentOperationQueue_ = PelmarOperationQueue::create(static_cast<unsigned>(
            std::clamp<uint64_t>(configuration.maxConcurrentOperations, 1, 1024)));
    urlSessionTaskQueue_ =
            PelmarRemoteImageDownloadQueue::queueWithMaxConcurrentDownloads(static_cast<unsigned>(
                    std::clamp<uint64_t>(configuration.maxConcurrentDownloads, 1, 65535)));
    sessionManager_ = PelmarURLSessionManager::create(sessionConfiguration_, speedRecorder_);
}

PelmarRemoteImageManager::~PelmarRemoteImageManager() {
    sessionManager_->invalidateSessionAndCancelTasks();
}

// Control.

void PelmarRemoteImageManager::cancelTaskWithUUID(const std::string& uuid, bool storeResumeData) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, uuid, storeResumeData] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                std::optional<PelmarResume> resume;
                std::shared_ptr<PelmarRemoteImageTask> task;
                {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    const auto found = self->UUIDToTask_.find(uuid);
                    if (found != self->UUIDToTask_.end()) {
                        task = found->second.lock();
                    }
                    if (!task) {
                        // Only a registration still queued can be stopped ahead of time.
                        if (self->pendingRegistrations_.contains(uuid)) {
                            self->canceledTasks_.insert(uuid);
                        }
                        return;
                    }
                    const bool noneLeft =
                            task->cancelWithUUID(uuid, storeResumeData ? &resume : nullptr);
                    if (!task->callbackBlocks().contains(uuid)) {
                        self->UUIDToTask_.erase(uuid);
                    }
                    if (noneLeft) {
                        self->l_unregister(task->key(), task);
                    }
                }
                if (resume) {
                    if (auto download =
                                std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(task)) {
                        if (const auto url = download->URL()) {
                            self->storeResumeData(*resume, *url);
                        }
                    }
                }
            },
            kPelmarOperationQueuePriorityHigh);
}

void PelmarRemoteImageManager::cancelAllTasks(bool storeResumeData) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, storeResumeData] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                std::vector<std::string> uuids;
                {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    for (const auto& [uuid, task] : self->UUIDToTask_) {
                        uuids.push_back(uuid);
                    }
                }
                for (const auto& uuid : uuids) {
                    self->cancelTaskWithUUID(uuid, storeResumeData);
                }
            },
            kPelmarOperationQueuePriorityHigh);
}

void PelmarRemoteImageManager::setPriority(PelmarRemoteImageManagerPriority priority,
                                           const std::string& uuid) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, uuid, priority] {
                if (auto self = weak.lock()) {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    const auto found = self->UUIDToTask_.find(uuid);
                    if (found != self->UUIDToTask_.end()) {
                        if (auto task = found->second.lock()) {
                            task->setPriority(priority);
                        }
                    }
                }
            },
            kPelmarOperationQueuePriorityHigh);
}

void PelmarRemoteImageManager::setProgressImageCallback(PelmarImageCompletion progressImage,
                                                        const std::string& uuid) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, uuid, progressImage = std::move(progressImage)] {
                if (auto self = weak.lock()) {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    const auto found = self->UUIDToTask_.find(uuid);
                    if (found != self->UUIDToTask_.end()) {
                        if (auto task = std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(
                                    found->second.lock())) {
                            task->setProgressImageBlock(uuid, progressImage);
                        }
                    }
                }
            },
            kPelmarOperationQueuePriorityHigh);
}

// Configuration.

void PelmarRemoteImageManager::applySetting(std::function<void(PelmarRemoteImageManager&)> change,
                                            SetterCompletion completion) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    dispatch::Queue::global()->async(
            [weak, change = std::move(change), completion = std::move(completion)] {
                if (auto self = weak.lock()) {
                    change(*self);
                }
                if (completion) {
                    completion();
                }
            });
}

void PelmarRemoteImageManager::setValueForHTTPHeaderField(std::optional<std::string> value,
                                                          std::string field) {
    applySetting(
            [value = std::move(value), field = std::move(field)](PelmarRemoteImageManager& self) {
                PelmarRemoteLock::Hold lock(self.lock_);
                auto& fields = self.httpHeaderFields_;
                const auto found = std::find_if(fields.begin(), fields.end(), [&](const auto& f) {
                    return net::headerNameEquals(f.first, field);
                });
                if (!value) {
                    if (found != fields.end()) {
                        fields.erase(found);
                    }
                } else if (found != fields.end()) {
                    found->second = *value;
                } else {
                    fields.emplace_back(field, *value);
                }
            },
            {});
}

void PelmarRemoteImageManager::setRequestConfiguration(RequestConfigurationHandler handler) {
    applySetting(
            [handler = std::move(handler)](PelmarRemoteImageManager& self) mutable {
                // The previous handler goes after the lock is released.
                auto previous = std::move(handler);
                PelmarRemoteLock::Hold lock(self.lock_);
                std::swap(self.requestConfigurationHandler_, previous);
            },
            {});
}

void PelmarRemoteImageManager::setAuthenticationChallenge(AuthenticationChallengeHandler handler,
                                                          SetterCompletion completion) {
    applySetting(
            [handler = std::move(handler)](PelmarRemoteImageManager& self) mutable {
                auto previous = std::move(handler);
                PelmarRemoteLock::Hold lock(self.lock_);
                std::swap(self.authenticationChallengeHandler_, previous);
            },
            std::move(completion));
}

void PelmarRemoteImageManager::setMaxNumberOfConcurrentOperations(unsigned maximum,
                                                                  SetterCompletion completion) {
    applySetting(
            [maximum](PelmarRemoteImageManager& self) {
                self.concurrentOperationQueue_->setMaxConcurrentOperations(std::max(1u, maximum));
            },
            std::move(completion));
}

void PelmarRemoteImageManager::setMaxNumberOfConcurrentDownloads(unsigned maximum,
                                                                 SetterCompletion completion) {
    applySetting(
            [maximum](PelmarRemoteImageManager& self) {
                self.urlSessionTaskQueue_->setMaxNumberOfConcurrentDownloads(std::max(1u, maximum));
            },
            std::move(completion));
}

#define PELMAR_MANAGER_SETTER(Method, Type, member)                                  \
    void PelmarRemoteImageManager::Method(Type value, SetterCompletion completion) { \
        applySetting(                                                                \
                [value = std::move(value)](PelmarRemoteImageManager& self) mutable { \
                    auto previous = std::move(value);                                \
                    PelmarRemoteLock::Hold lock(self.lock_);                         \
                    std::swap(self.member, previous);                                \
                },                                                                   \
                std::move(completion));                                              \
    }

PELMAR_MANAGER_SETTER(setEstimatedRemainingTimeThresholdForProgressiveDownloads,
                      double,
                      estimatedRemainingTimeThreshold_)
PELMAR_MANAGER_SETTER(setProgressThresholds, std::vector<float>, progressThresholds_)
PELMAR_MANAGER_SETTER(setProgressiveRendersShouldBlur, bool, shouldBlurProgressive_)
PELMAR_MANAGER_SETTER(setProgressiveRendersMaxProgressiveRenderSize,
                      PelmarSize,
                      maxProgressiveRenderSize_)
PELMAR_MANAGER_SETTER(setHighQualityBPSThreshold, float, highQualityBPSThreshold_)
PELMAR_MANAGER_SETTER(setLowQualityBPSThreshold, float, lowQualityBPSThreshold_)
PELMAR_MANAGER_SETTER(setShouldUpgradeLowQualityImages, bool, shouldUpgradeLowQualityImages_)
PELMAR_MANAGER_SETTER(setMetricsCallback, MetricsCallback, metricsCallback_)

#undef PELMAR_MANAGER_SETTER

void PelmarRemoteImageManager::setRetryStrategyCreationBlock(RetryStrategyCreationBlock block) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, block = std::move(block)]() mutable {
                if (auto self = weak.lock()) {
                    auto previous = std::move(block);
                    PelmarRemoteLock::Hold lock(self->lock_);
                    std::swap(self->retryStrategyCreationBlock_, previous);
                }
            },
            kPelmarOperationQueuePriorityHigh);
}

bool PelmarRemoteImageManager::shouldBlurProgressive() {
    PelmarRemoteLock::Hold lock(lock_);
    return shouldBlurProgressive_;
}

PelmarSize PelmarRemoteImageManager::maxProgressiveRenderSize() {
    PelmarRemoteLock::Hold lock(lock_);
    return maxProgressiveRenderSize_;
}

std::vector<float> PelmarRemoteImageManager::progressThresholds() {
    PelmarRemoteLock::Hold lock(lock_);
    return progressThresholds_;
}

double PelmarRemoteImageManager::estimatedRemainingTimeThreshold() {
    PelmarRemoteLock::Hold lock(lock_);
    return estimatedRemainingTimeThreshold_;
}

std::size_t PelmarRemoteImageManager::taskCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return tasks_.size();
}

std::size_t PelmarRemoteImageManager::registeredUUIDCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return UUIDToTask_.size();
}

std::size_t PelmarRemoteImageManager::canceledTaskCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return canceledTasks_.size() + pendingRegistrations_.size();
}

// Session events.

std::shared_ptr<PelmarRemoteImageDownloadTask> PelmarRemoteImageManager::downloadTaskFor(
        const PelmarDataTask& task) {
    if (!task) {
        return nullptr;
    }
    const auto& properties = task->originalRequest().properties;
    const auto found = properties.find(kPelmarRemoteImageWeakTaskKey);
    if (found == properties.end()) {
        return nullptr;
    }
    const auto holder = std::static_pointer_cast<const PelmarRemoteImageWeakTask>(found->second);
    return std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(holder->task.lock());
}

void PelmarRemoteImageManager::didReceiveData(const std::string& data, const PelmarDataTask& task) {
    if (auto imageTask = downloadTaskFor(task)) {
        imageTask->didReceiveData(data, task);
    }
}

void PelmarRemoteImageManager::didReceiveResponse(
        const std::shared_ptr<const net::HTTPURLResponse>& response, const PelmarDataTask& task) {
    if (auto imageTask = downloadTaskFor(task)) {
        imageTask->didReceiveResponse(response, task);
    }
}

void PelmarRemoteImageManager::didCollectMetrics(const net::URLSessionTaskMetrics& metrics,
                                                 const std::string& url) {
    MetricsCallback callback;
    {
        PelmarRemoteLock::Hold lock(lock_);
        callback = metricsCallback_;
    }
    // Called without the lock, so a slow host handler stalls nothing here.
    if (callback) {
        callback(url, metrics);
    }
}

void PelmarRemoteImageManager::didReceiveAuthenticationChallenge(
        const net::URLAuthenticationChallenge& challenge,
        const PelmarDataTask& task,
        net::URLSessionChallengeCompletion completion) {
    AuthenticationChallengeHandler handler;
    {
        PelmarRemoteLock::Hold lock(lock_);
        handler = authenticationChallengeHandler_;
    }
    // Called without the lock: a handler that asks its user, or calls back into the manager,
    // stalls nothing here.
    if (handler) {
        handler(task, challenge, std::move(completion));
    } else {
        completion(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }
}

}  // namespace pelmar
