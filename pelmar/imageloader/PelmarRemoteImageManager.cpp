#include "pelmar/imageloader/PelmarRemoteImageManager.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "pelmar/imageloader/PelmarAlternateRepresentationProvider.h"
#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"
#include "pelmar/imageloader/internal/ImageManagerSettings.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/imageloader/internal/ImageRequestRegistry.h"
#include "pelmar/platform/net/URLError.h"

namespace pelmar {

using imageloader::internal::ImageManagerSettings;

namespace {

constexpr double kDefaultRequestTimeout = 30.0;
constexpr int kDefaultMaxConnectionsPerHost = 65535;

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

// The settings a configuration starts a manager with.
ImageManagerSettings initialSettings(const PelmarRemoteImageManagerConfiguration& configuration) {
    ImageManagerSettings settings;
    settings.estimatedRemainingTimeThreshold = configuration.estimatedRemainingTimeThreshold;
    settings.highQualityBPSThreshold = configuration.highQualityBPSThreshold;
    settings.lowQualityBPSThreshold = configuration.lowQualityBPSThreshold;
    settings.shouldUpgradeLowQualityImages = configuration.shouldUpgradeLowQualityImages;
    settings.shouldBlurProgressive = configuration.shouldBlurProgressive;
    settings.maxProgressiveRenderSize = configuration.maxProgressiveRenderSize;
    settings.retryStrategyCreationBlock = &PelmarRemoteImageManager::defaultRetryStrategy;
    return settings;
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

void PelmarRemoteImageManager::forgetSharedImageManager() {
    std::shared_ptr<PelmarRemoteImageManager> dropped;
    {
        std::lock_guard lock(sharedMutex());
        dropped = std::exchange(sharedManagerSlot(), nullptr);
    }
}

std::shared_ptr<PelmarRemoteImageCaching> PelmarRemoteImageManager::defaultImageCache() {
    return defaultImageCacheEnablingTtl(false);
}

std::shared_ptr<PelmarRemoteImageCaching> PelmarRemoteImageManager::defaultImageTtlCache() {
    return defaultImageCacheEnablingTtl(true);
}

std::shared_ptr<PelmarRemoteImageCaching> PelmarRemoteImageManager::defaultImageCacheEnablingTtl(
        bool /*enableTtl*/) {
    // The basic cache keeps no ages of its own, whatever the flag.
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
      settings_(std::make_unique<imageloader::internal::ImageManagerSettingsStore>(
              initialSettings(configuration))),
      registry_(std::make_unique<imageloader::internal::ImageRequestRegistry>()) {
    if (cache_->supportsAgeLimits()) {
        diskCacheTTLIsEnabled_ = cache_->diskCacheIsTTLCache();
        memoryCacheTTLIsEnabled_ = cache_->memoryCacheIsTTLCache();
    }
    if (sessionConfiguration) {
        sessionConfiguration_ = *sessionConfiguration;
    } else {
        // Images always come from their server (the manager keeps its own cache), on as many
        // connections per server as the download queue lets run.
        sessionConfiguration_.timeoutIntervalForRequest = kDefaultRequestTimeout;
        sessionConfiguration_.requestCachePolicy =
                net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
        sessionConfiguration_.usesURLCache = false;
        sessionConfiguration_.httpMaximumConnectionsPerHost = kDefaultMaxConnectionsPerHost;
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
                const auto task =
                        self->registry_->cancel(uuid, storeResumeData ? &resume : nullptr);
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
                for (const auto& uuid : self->registry_->uuids()) {
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
                    if (auto task = self->registry_->taskForUUID(uuid)) {
                        task->setPriority(priority);
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
                    if (auto task = std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(
                                self->registry_->taskForUUID(uuid))) {
                        task->setProgressImageBlock(uuid, progressImage);
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
                self.settings_->update([&](ImageManagerSettings& settings) {
                    auto& fields = settings.httpHeaderFields;
                    const auto found = std::find_if(
                            fields.begin(), fields.end(),
                            [&](const auto& f) { return net::headerNameEquals(f.first, field); });
                    if (!value) {
                        if (found != fields.end()) {
                            fields.erase(found);
                        }
                    } else if (found != fields.end()) {
                        found->second = *value;
                    } else {
                        fields.emplace_back(field, *value);
                    }
                });
            },
            {});
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

// A setter that puts its value into the settings; the value it replaces goes with the snapshot
// that held it.
#define PELMAR_MANAGER_SETTER(Method, Type, member)                                            \
    void PelmarRemoteImageManager::Method(Type value, SetterCompletion completion) {           \
        applySetting(                                                                          \
                [value = std::move(value)](PelmarRemoteImageManager& self) {                   \
                    self.settings_->update(                                                    \
                            [&](ImageManagerSettings& settings) { settings.member = value; }); \
                },                                                                             \
                std::move(completion));                                                        \
    }

PELMAR_MANAGER_SETTER(setEstimatedRemainingTimeThresholdForProgressiveDownloads,
                      double,
                      estimatedRemainingTimeThreshold)
PELMAR_MANAGER_SETTER(setProgressThresholds, std::vector<float>, progressThresholds)
PELMAR_MANAGER_SETTER(setProgressiveRendersShouldBlur, bool, shouldBlurProgressive)
PELMAR_MANAGER_SETTER(setProgressiveRendersMaxProgressiveRenderSize,
                      PelmarSize,
                      maxProgressiveRenderSize)
PELMAR_MANAGER_SETTER(setHighQualityBPSThreshold, float, highQualityBPSThreshold)
PELMAR_MANAGER_SETTER(setLowQualityBPSThreshold, float, lowQualityBPSThreshold)
PELMAR_MANAGER_SETTER(setShouldUpgradeLowQualityImages, bool, shouldUpgradeLowQualityImages)
PELMAR_MANAGER_SETTER(setMetricsCallback, MetricsCallback, metricsCallback)
PELMAR_MANAGER_SETTER(setAuthenticationChallenge,
                      AuthenticationChallengeHandler,
                      authenticationChallengeHandler)

#undef PELMAR_MANAGER_SETTER

void PelmarRemoteImageManager::setRequestConfiguration(RequestConfigurationHandler handler) {
    applySetting(
            [handler = std::move(handler)](PelmarRemoteImageManager& self) {
                self.settings_->update([&](ImageManagerSettings& settings) {
                    settings.requestConfigurationHandler = handler;
                });
            },
            {});
}

void PelmarRemoteImageManager::setRetryStrategyCreationBlock(RetryStrategyCreationBlock block) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, block = std::move(block)] {
                if (auto self = weak.lock()) {
                    self->settings_->update([&](ImageManagerSettings& settings) {
                        settings.retryStrategyCreationBlock = block;
                    });
                }
            },
            kPelmarOperationQueuePriorityHigh);
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
    // From a snapshot, called without any lock: a slow host handler stalls nothing here.
    const auto settings = settings_->current();
    if (settings->metricsCallback) {
        settings->metricsCallback(url, metrics);
    }
}

void PelmarRemoteImageManager::didReceiveAuthenticationChallenge(
        const net::URLAuthenticationChallenge& challenge,
        const PelmarDataTask& task,
        net::URLSessionChallengeCompletion completion) {
    // From a snapshot, called without any lock: a handler that asks its user, or calls back
    // into the manager, stalls nothing here.
    const auto settings = settings_->current();
    if (settings->authenticationChallengeHandler) {
        settings->authenticationChallengeHandler(task, challenge, std::move(completion));
    } else {
        completion(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }
}

}  // namespace pelmar
