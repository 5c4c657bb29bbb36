#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"
#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/imageloader/internal/ImageRequestRegistry.h"
#include "pelmar/platform/dispatch/Clock.h"

// Processing and storage: processor requests, cache keys and resume data, the cache reads and
// the step that turns a cached or downloaded object into an image and stores it.

namespace pelmar {

using imageloader::internal::managerError;

void PelmarRemoteImageManager::process(const std::shared_ptr<Request>& request) {
    const auto task = std::dynamic_pointer_cast<PelmarRemoteImageProcessorTask>(
            registry_->taskForKey(request->key));
    if (!task || task->downloadTaskUUID()) {
        return;
    }
    // The inner request is made without the registry lock: it takes that lock itself.
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    const auto inner = downloadImageWithURL(
            request->url, request->options | kPelmarImageRequestOptionAlwaysAsynchronous,
            [weak, request](const PelmarImageResult& result) {
                if (auto self = weak.lock()) {
                    self->processed(request, result);
                }
            });
    if (!inner) {
        return;  // answered at once: processed() already has the result on its way
    }
    task->setDownloadTaskUUID(inner);
    if (!registry_->holds(request->key, task) && task->downloadTaskUUID()) {
        // Every caller left while the inner request was being made.
        task->setDownloadTaskUUID(std::nullopt);
        cancelTaskWithUUID(*inner);
    }
}

void PelmarRemoteImageManager::processed(const std::shared_ptr<Request>& request,
                                         const PelmarImageResult& inner) {
    if (!registry_->taskForKey(request->key)) {
        return;
    }
    if (inner->error() || !inner->image()) {
        registry_->callCompletions(
                request->key, nullptr, nullptr, false, inner->response(),
                inner->error() ? inner->error() : managerError(kPelmarImageErrorNoImageToProcess),
                true);
        return;
    }
    uint64_t cost = 0;
    PelmarImage image = request->processor(inner, &cost);
    const std::optional<Error> error =
            image ? std::nullopt
                  : std::optional<Error>(managerError(kPelmarImageErrorProcessorReturnedNil));
    // The callers are answered before the processed image is stored.
    registry_->callCompletions(request->key, image, nullptr, false, inner->response(), error,
                               false);
    if (image) {
        const auto copy = (request->options & kPelmarImageRequestOptionStoreProcessedAsJPEG) != 0
                                  ? PelmarDecodedImage::JPEGRepresentation(*image, 1.0)
                                  : PelmarDecodedImage::PNGRepresentation(*image);
        materializeAndCacheObject(PelmarCacheObject(image), copy, cost, std::nullopt, request->url,
                                  request->key, request->options, nullptr, nullptr);
    }
    registry_->callCompletions(request->key, image, nullptr, false, inner->response(), error, true);
}

// Cache.

std::optional<std::string> PelmarRemoteImageManager::cacheKeyForURL(
        const std::optional<std::string>& url, const std::string& processorKey) {
    return PelmarRemoteImageCacheKeys::cacheKeyForURL(url, processorKey);
}

std::optional<std::string> PelmarRemoteImageManager::resumeCacheKeyForURL(
        const std::optional<std::string>& url) {
    return PelmarRemoteImageCacheKeys::resumeCacheKeyForURL(url);
}

void PelmarRemoteImageManager::storeResumeData(const PelmarResume& resume, const std::string& url) {
    cache_->setObjectOnDisk(PelmarRemoteImageCacheKeys::encodeResume(resume),
                            *resumeCacheKeyForURL(url));
}

void PelmarRemoteImageManager::objectForKey(const std::string& key,
                                            PelmarImageRequestOptions options,
                                            PelmarCacheLookupCompletion completion) {
    objectForURL(std::nullopt, std::string(), key, options, std::move(completion));
}

void PelmarRemoteImageManager::objectForURL(const std::optional<std::string>& url,
                                            const std::string& processorKey,
                                            const std::optional<std::string>& key,
                                            PelmarImageRequestOptions options,
                                            PelmarCacheLookupCompletion completion) {
    if ((options & kPelmarImageRequestOptionBypassCache) != 0 || (!url && !key)) {
        completion(false, true, nullptr, nullptr);
        return;
    }
    const std::string cacheKey = key ? *key : *cacheKeyForURL(url, processorKey);
    if (auto object = cache_->objectFromMemoryForKey(cacheKey)) {
        PelmarImage image;
        PelmarImageRepresentation representation;
        const bool valid = materializeAndCacheObject(PelmarCacheObject(std::move(object)),
                                                     std::nullopt, 0, std::nullopt, std::nullopt,
                                                     cacheKey, options, &image, &representation);
        completion(true, valid, image, representation);
        return;
    }
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    cache_->objectFromDiskForKey(
            cacheKey, [weak, options, completion](const auto&, const std::string& diskKey,
                                                  const std::optional<std::string>& object) {
                auto self = weak.lock();
                if (!self || !object) {
                    completion(false, true, nullptr, nullptr);
                    return;
                }
                PelmarImage image;
                PelmarImageRepresentation representation;
                const bool valid = self->materializeAndCacheObject(
                        PelmarCacheObject(*object), std::nullopt, 0, std::nullopt, std::nullopt,
                        diskKey, options, &image, &representation);
                completion(true, valid, image, representation);
            });
}

bool PelmarRemoteImageManager::materializeAndCacheObject(
        const std::optional<PelmarCacheObject>& object,
        const std::optional<std::string>& persistentCopy,
        uint64_t additionalCost,
        std::optional<int64_t> maxAge,
        const std::optional<std::string>& /*url*/,
        const std::string& key,
        PelmarImageRequestOptions options,
        PelmarImage* outImage,
        PelmarImageRepresentation* outAltRep) {
    if (!object) {
        return false;
    }
    std::shared_ptr<PelmarRemoteImageMemoryContainer> container;
    std::shared_ptr<const std::string> data;
    PelmarImage image;
    bool writeMemory = false;
    if (const auto* entry =
                std::get_if<std::shared_ptr<PelmarRemoteImageMemoryContainer>>(&*object)) {
        container = *entry;
        if (container) {
            PelmarRemoteLock::Hold lock(container->lock);
            data = container->data;
            image = container->image;
        }
    } else {
        container = std::make_shared<PelmarRemoteImageMemoryContainer>();
        writeMemory = true;
        if (const auto* given = std::get_if<PelmarImage>(&*object)) {
            if (persistentCopy) {
                data = std::make_shared<const std::string>(*persistentCopy);
            }
            image = *given;
            PelmarRemoteLock::Hold lock(container->lock);
            container->image = image;
        } else {
            data = std::make_shared<const std::string>(std::get<std::string>(*object));
        }
        PelmarRemoteLock::Hold lock(container->lock);
        container->data = data;
    }
    if (!container) {
        return false;
    }

    PelmarImageRepresentation representation;
    const bool keepEncoded = (options & kPelmarImageRequestOptionKeepEncoded) != 0;
    if ((options & kPelmarImageRequestOptionNoAlternateRepresentation) == 0 && provider_ && data) {
        representation = provider_->alternateRepresentationWithData(*data, options);
    }
    if (representation) {
        image = nullptr;
    } else {
        if (!image && data) {
            // Scaled by the key whether or not a URL came along, so every read of an entry
            // shows it at the same size.
            image = PelmarScaledImageForKey(
                    key, PelmarDecodedImage::decodedImageWithData(*data, keepEncoded));
            if (image && !keepEncoded) {
                PelmarRemoteLock::Hold lock(container->lock);
                // A concurrent read may have decoded it first: every reader keeps that one.
                if (container->image) {
                    image = container->image;
                } else {
                    container->image = image;
                    writeMemory = true;
                }
            }
        }
    }

    if (!maxAge || *maxAge != 0) {
        if (writeMemory) {
            PelmarRemoteLock::Hold lock(container->lock);
            const uint64_t cost = (container->data ? container->data->size() : 0) + additionalCost
                                  + (container->image ? container->image->byteCount() : 0);
            if (memoryCacheTTLIsEnabled_ && maxAge) {
                cache_->setObjectInMemoryWithAgeLimit(container, key, cost,
                                                      static_cast<double>(*maxAge));
            } else {
                cache_->setObjectInMemory(container, key, cost);
            }
        }
        if (persistentCopy) {
            if (diskCacheTTLIsEnabled_ && maxAge) {
                cache_->setObjectOnDiskWithAgeLimit(*persistentCopy, key,
                                                    static_cast<double>(*maxAge));
            } else {
                cache_->setObjectOnDisk(*persistentCopy, key);
            }
        }
    }
    if (outImage != nullptr) {
        *outImage = image;
    }
    if (outAltRep != nullptr) {
        *outAltRep = representation;
    }
    if (!representation && !image) {
        cache_->removeObjectForKey(key, nullptr);
        return false;
    }
    return true;
}

void PelmarRemoteImageManager::imageFromCacheWithCacheKey(const std::string& key,
                                                          PelmarImageRequestOptions options,
                                                          PelmarImageCompletion completion) {
    imageFromCacheWithURL(std::nullopt, std::string(), key, options, std::move(completion));
}

void PelmarRemoteImageManager::imageFromCacheWithURL(const std::optional<std::string>& url,
                                                     const std::string& processorKey,
                                                     const std::optional<std::string>& cacheKey,
                                                     PelmarImageRequestOptions options,
                                                     PelmarImageCompletion completion) {
    const double start = dispatch::clock().now();
    if ((options & kPelmarImageRequestOptionAlwaysAsynchronous) == 0 && dispatch::isMainThread()) {
        auto result = synchronousImageFromCacheWithURL(url, processorKey, cacheKey, options);
        if (result && result->image() && !result->error()) {
            completion(result);
            return;
        }
    }
    auto queue = callbackQueue_;
    objectForURL(url, processorKey, cacheKey, options,
                 [queue, start, completion](bool /*found*/, bool valid, const PelmarImage& image,
                                            const PelmarImageRepresentation& representation) {
                     auto result = PelmarRemoteImageManagerResult::imageResultWithImage(
                             image, representation, dispatch::clock().now() - start,
                             PelmarImageResultType::CacheHit, std::nullopt, nullptr,
                             valid ? std::nullopt
                                   : std::optional<Error>(
                                           managerError(kPelmarImageErrorUnusableCacheEntry)));
                     queue->async([completion, result] { completion(result); });
                 });
}

PelmarImageResult PelmarRemoteImageManager::synchronousImageFromCacheWithCacheKey(
        const std::string& key, PelmarImageRequestOptions options) {
    return synchronousImageFromCacheWithURL(std::nullopt, std::string(), key, options);
}

PelmarImageResult PelmarRemoteImageManager::synchronousImageFromCacheWithURL(
        const std::optional<std::string>& url,
        const std::string& processorKey,
        const std::optional<std::string>& cacheKey,
        PelmarImageRequestOptions options) {
    if (!url && !cacheKey) {
        return nullptr;
    }
    const double start = dispatch::clock().now();
    const std::string key = cacheKey ? *cacheKey : *cacheKeyForURL(url, processorKey);
    PelmarImage image;
    PelmarImageRepresentation representation;
    bool usable = true;
    if (auto object = cache_->objectFromMemoryForKey(key)) {
        usable =
                materializeAndCacheObject(PelmarCacheObject(std::move(object)), std::nullopt, 0,
                                          std::nullopt, url, key, options, &image, &representation);
    }
    return PelmarRemoteImageManagerResult::imageResultWithImage(
            image, representation, dispatch::clock().now() - start,
            PelmarImageResultType::MemoryHit, std::nullopt, nullptr,
            usable ? std::nullopt
                   : std::optional<Error>(managerError(kPelmarImageErrorUnusableCacheEntry)));
}

bool PelmarRemoteImageManager::insertImageDataIntoCache(const std::optional<std::string>& data,
                                                        const std::string& url,
                                                        const std::string& processorKey,
                                                        uint64_t additionalCost) {
    if (!data) {
        return false;
    }
    auto container = std::make_shared<PelmarRemoteImageMemoryContainer>();
    {
        PelmarRemoteLock::Hold lock(container->lock);
        container->data = std::make_shared<const std::string>(*data);
    }
    return materializeAndCacheObject(
            PelmarCacheObject(std::move(container)), data, additionalCost, std::nullopt, url,
            *cacheKeyForURL(url, processorKey),
            kPelmarImageRequestOptionKeepEncoded | kPelmarImageRequestOptionAlwaysAsynchronous,
            nullptr, nullptr);
}

}  // namespace pelmar
