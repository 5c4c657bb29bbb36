#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"
#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/ImageManagerSettings.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/imageloader/internal/ImageRequestRegistry.h"
#include "pelmar/platform/dispatch/Clock.h"

// The download path: registration and coalescing, the cache lookup, the download and its end,
// completion delivery, the network request, alternative URLs and prefetches.

namespace pelmar {

using imageloader::internal::managerError;
using imageloader::internal::newUUID;

void PelmarRemoteImageManager::registerRequest(const std::shared_ptr<Request>& request) {
    // The registry says when the key needs a task; the task, and with it the host's
    // retry-strategy factory (from a settings snapshot), is made outside every lock (the factory
    // may call back into the manager), and the request joins again with it. A task made for a
    // key that another registration filled meanwhile is dropped here, after the lock is gone.
    const auto makeTask = [&]() -> std::shared_ptr<PelmarRemoteImageTask> {
        if (request->isProcessor) {
            return std::make_shared<PelmarRemoteImageProcessorTask>(request->key, callbackQueue_,
                                                                    weak_from_this());
        }
        std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy;
        if (const auto settings = settings_->current(); settings->retryStrategyCreationBlock) {
            retryStrategy = settings->retryStrategyCreationBlock();
        }
        PelmarRemoteImageDownloadTask::Environment environment;
        environment.sessionManager = sessionManager_;
        environment.downloadQueue = urlSessionTaskQueue_;
        environment.operationQueue = concurrentOperationQueue_;
        environment.callbackQueue = callbackQueue_;
        environment.speedRecorder = speedRecorder_;
        environment.manager = weak_from_this();
        return PelmarRemoteImageDownloadTask::create(request->key, std::move(environment),
                                                     std::move(retryStrategy));
    };
    std::shared_ptr<PelmarRemoteImageTask> made;
    auto joined = registry_->join(request->uuid, request->key, nullptr, request->completion,
                                  request->progressImage, request->progressDownload);
    if (joined.needsTask) {
        made = makeTask();
        joined = registry_->join(request->uuid, request->key, made, request->completion,
                                 request->progressImage, request->progressDownload);
    }
    const bool isNew = joined.isNew;
    if (isNew) {
        std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
        concurrentOperationQueue_->scheduleOperation(
                [weak, request] {
                    if (auto self = weak.lock()) {
                        self->lookUp(request);
                    }
                },
                operationPriorityWithImageManagerPriority(request->priority));
    }
}

void PelmarRemoteImageManager::lookUp(const std::shared_ptr<Request>& request) {
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    objectForURL(request->url, request->isProcessor ? request->processorKey : std::string(),
                 request->key, request->options,
                 [weak, request](bool found, bool valid, const PelmarImage& image,
                                 const PelmarImageRepresentation& representation) {
                     auto self = weak.lock();
                     if (!self) {
                         return;
                     }
                     if (found && valid) {
                         self->registry_->callCompletions(request->key, image, representation, true,
                                                          nullptr, std::nullopt, true);
                         return;
                     }
                     // Not found, or found unusable (and already removed): the same task goes
                     // on to fetch the image, so requests joined to it are answered too.
                     const auto task = self->registry_->taskForKey(request->key);
                     if (std::dynamic_pointer_cast<PelmarRemoteImageProcessorTask>(task)) {
                         self->process(request);
                     } else if (task) {
                         self->download(request);
                     }
                 });
}

void PelmarRemoteImageManager::download(const std::shared_ptr<Request>& request) {
    std::optional<PelmarResume> resume;
    if ((request->options & kPelmarImageRequestOptionBypassCache) == 0) {
        const auto resumeKey = *resumeCacheKeyForURL(request->url);
        if (const auto stored = cache_->objectFromDiskForKey(resumeKey)) {
            cache_->removeObjectForKey(resumeKey, nullptr);
            resume = PelmarRemoteImageCacheKeys::decodeResume(*stored);
        }
    }
    const auto task = std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(
            registry_->taskForKey(request->key));
    if (!task) {
        return;
    }
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    task->scheduleDownloadWithRequest(
            requestWithURL(request->url, task), std::move(resume),
            (request->options & kPelmarImageRequestOptionNoRetry) != 0, request->priority,
            [weak, request](std::optional<std::string> data,
                            const std::shared_ptr<const net::HTTPURLResponse>& response,
                            const std::optional<Error>& error) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                // The finishing step (decoding, caching, answering) waits its turn at the
                // request's own priority.
                self->concurrentOperationQueue_->scheduleOperation(
                        [weak, request, data = std::move(data), response, error]() mutable {
                            if (auto manager = weak.lock()) {
                                manager->finishDownload(request, std::move(data), response, error);
                            }
                        },
                        operationPriorityWithImageManagerPriority(request->priority));
            });
}

void PelmarRemoteImageManager::finishDownload(
        const std::shared_ptr<Request>& request,
        std::optional<std::string> data,
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        std::optional<Error> error) {
    PelmarImage image;
    PelmarImageRepresentation representation;
    if (!error && data) {
        std::optional<int64_t> maxAge;
        if ((diskCacheTTLIsEnabled_ || memoryCacheTTLIsEnabled_)
            && (request->options & kPelmarImageRequestOptionIgnoreCacheHeaders) == 0 && response) {
            maxAge = PelmarRemoteImageCacheKeys::findMaxAge(*response, dispatch::clock().wallNow());
        }
        std::optional<std::string> copy = data;
        materializeAndCacheObject(PelmarCacheObject(std::move(*data)), copy, 0, maxAge,
                                  request->url, request->key, request->options, &image,
                                  &representation);
    }
    if (!error && !image && !representation) {
        error = managerError(kPelmarImageErrorUndecodableData);
    }
    registry_->callCompletions(request->key, image, representation, false, response, error, true);
}

net::URLRequest PelmarRemoteImageManager::requestWithURL(
        const std::string& url, const std::shared_ptr<PelmarRemoteImageTask>& task) {
    net::URLRequest request(url, sessionConfiguration_.timeoutIntervalForRequest);
    const auto settings = settings_->current();
    if (!settings->httpHeaderFields.empty()) {
        request.allHTTPHeaderFields = settings->httpHeaderFields;
    }
    // The host's hook runs without any lock.
    if (settings->requestConfigurationHandler) {
        request = settings->requestConfigurationHandler(request);
    }
    request.properties[std::string(kPelmarRemoteImageWeakTaskKey)] =
            std::make_shared<const PelmarRemoteImageWeakTask>(PelmarRemoteImageWeakTask{task});
    return request;
}

std::string PelmarRemoteImageManager::downloadImageWithURLs(
        const std::vector<std::string>& urls,
        PelmarImageRequestOptions options,
        PelmarImageCompletion progressImage,
        PelmarImageProgressDownload progressDownload,
        PelmarImageCompletion completion) {
    const std::string uuid = newUUID();
    if (urls.size() <= 1) {
        downloadImageWithURL(urls.empty() ? std::nullopt : std::optional<std::string>(urls[0]),
                             options, kPelmarRemoteImageManagerPriorityDefault, std::string(),
                             nullptr, std::move(progressImage), std::move(progressDownload),
                             std::move(completion), uuid);
        return uuid;
    }
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, urls, options, progressImage = std::move(progressImage),
             progressDownload = std::move(progressDownload), completion = std::move(completion),
             uuid] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                std::optional<std::size_t> cachedIndex;
                for (std::size_t i = urls.size(); i-- > 0;) {
                    if (self->cache_->objectExistsForKey(*cacheKeyForURL(urls[i]))) {
                        cachedIndex = i;
                        break;
                    }
                }
                const auto settings = self->settings_->current();
                const float high = settings->highQualityBPSThreshold;
                const float low = settings->lowQualityBPSThreshold;
                const bool upgrade = settings->shouldUpgradeLowQualityImages;
                const std::size_t speedIndex =
                        self->speedRecorder_
                                ->appropriateImageIdxForURLsGivenHistoricalNetworkConditions(
                                        urls, low, high);
                const std::size_t chosen = cachedIndex && (*cachedIndex >= speedIndex || !upgrade)
                                                   ? *cachedIndex
                                                   : std::min(speedIndex, urls.size() - 1);
                self->downloadImageWithURL(
                        urls[chosen], options, kPelmarRemoteImageManagerPriorityDefault,
                        std::string(), nullptr, progressImage, progressDownload,
                        [weak, urls, chosen, completion](const PelmarImageResult& result) {
                            auto manager = weak.lock();
                            // Lower qualities make room only once the better image is here.
                            if (manager && !result->error()
                                && (result->image() || result->alternativeRepresentation())) {
                                for (std::size_t i = chosen; i-- > 0;) {
                                    manager->cache_->removeObjectForKey(*cacheKeyForURL(urls[i]),
                                                                        nullptr);
                                }
                            }
                            if (completion) {
                                completion(result);
                            }
                        },
                        uuid);
            },
            kPelmarOperationQueuePriorityDefault);
    return uuid;
}

std::optional<std::string> PelmarRemoteImageManager::prefetchImageWithURL(
        const std::optional<std::string>& url,
        PelmarImageRequestOptions options,
        PelmarRemoteImageManagerPriority priority) {
    return downloadImageWithURL(url, options, priority, std::string(), nullptr, nullptr, nullptr,
                                nullptr, std::nullopt);
}

std::vector<std::string> PelmarRemoteImageManager::prefetchImagesWithURLs(
        const std::vector<std::string>& urls,
        PelmarImageRequestOptions options,
        PelmarRemoteImageManagerPriority priority) {
    std::vector<std::string> uuids;
    for (const auto& url : urls) {
        if (auto uuid = prefetchImageWithURL(url, options, priority)) {
            uuids.push_back(std::move(*uuid));
        }
    }
    return uuids;
}

}  // namespace pelmar
