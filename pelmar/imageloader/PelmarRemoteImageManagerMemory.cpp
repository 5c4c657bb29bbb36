#include "pelmar/imageloader/PelmarImageDetectors.h"
#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"
#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/imageloader/internal/ImageRequestRegistry.h"
#include "pelmar/platform/net/URLContents.h"

// The memory path: the entry points, the quick answer of memory hits, and the early answers
// that need no registration.

namespace pelmar {

using imageloader::internal::hasScheme;
using imageloader::internal::isUsableURL;
using imageloader::internal::newUUID;

// Downloads.

std::optional<std::string> PelmarRemoteImageManager::downloadImageWithURL(
        const std::optional<std::string>& url, PelmarImageCompletion completion) {
    if (answerFromMemory(url, {}, kPelmarImageRequestOptionNone, completion)) {
        return std::nullopt;
    }
    auto request = std::make_shared<Request>();
    request->completion = std::move(completion);
    return startDownload(url, std::move(request), std::nullopt);
}

std::optional<std::string> PelmarRemoteImageManager::downloadImageWithURL(
        const std::optional<std::string>& url,
        PelmarImageRequestOptions options,
        PelmarImageCompletion completion) {
    if (answerFromMemory(url, {}, options, completion)) {
        return std::nullopt;
    }
    auto request = std::make_shared<Request>();
    request->options = options;
    request->completion = std::move(completion);
    return startDownload(url, std::move(request), std::nullopt);
}

std::optional<std::string> PelmarRemoteImageManager::downloadImageWithURL(
        const std::optional<std::string>& url,
        PelmarImageRequestOptions options,
        PelmarRemoteImageManagerPriority priority,
        PelmarImageCompletion progressImage,
        PelmarImageProgressDownload progressDownload,
        PelmarImageCompletion completion) {
    return downloadImageWithURL(url, options, priority, std::string(), nullptr,
                                std::move(progressImage), std::move(progressDownload),
                                std::move(completion), std::nullopt);
}

std::optional<std::string> PelmarRemoteImageManager::downloadImageWithURL(
        const std::optional<std::string>& url,
        PelmarImageRequestOptions options,
        const std::string& processorKey,
        PelmarImageProcessor processor,
        PelmarImageCompletion completion) {
    return downloadImageWithURL(url, options, kPelmarRemoteImageManagerPriorityDefault,
                                processorKey, std::move(processor), nullptr, nullptr,
                                std::move(completion), std::nullopt);
}

std::optional<std::string> PelmarRemoteImageManager::downloadImageWithURL(
        const std::optional<std::string>& url,
        PelmarImageRequestOptions options,
        PelmarRemoteImageManagerPriority priority,
        const std::string& processorKey,
        PelmarImageProcessor processor,
        PelmarImageCompletion progressImage,
        PelmarImageProgressDownload progressDownload,
        PelmarImageCompletion completion,
        std::optional<std::string> inputUUID) {
    if (answerFromMemory(url, processorKey, options, completion)) {
        return std::nullopt;
    }
    auto request = std::make_shared<Request>();
    request->options = options;
    request->priority = priority;
    request->processorKey = processorKey;
    request->isProcessor = processor && !processorKey.empty();
    request->processor = std::move(processor);
    request->progressImage = std::move(progressImage);
    request->progressDownload = std::move(progressDownload);
    request->completion = std::move(completion);
    return startDownload(url, std::move(request), std::move(inputUUID));
}

bool PelmarRemoteImageManager::answerFromMemory(const std::optional<std::string>& url,
                                                std::string_view processorKey,
                                                PelmarImageRequestOptions options,
                                                const PelmarImageCompletion& completion) {
    if (!url || (options & kPelmarImageRequestOptionBypassCache) != 0
        || !PelmarRemoteImageCacheKeys::keyIsURL(*url, processorKey) || !isUsableURL(*url)) {
        return false;
    }
    const auto entry = cache_->objectFromMemoryForKey(*url);
    return entry && answerDecodedMemoryHit(*entry, options, completion);
}

std::optional<std::string> PelmarRemoteImageManager::startDownload(
        const std::optional<std::string>& url,
        std::shared_ptr<Request> request,
        std::optional<std::string> inputUUID) {
    const PelmarImageRequestOptions options = request->options;
    const auto& completion = request->completion;
    // Text that is not a URL is as good as none: answer it here rather than send it on.
    if (!url || !isUsableURL(*url)) {
        earlyReturnWithOptions(options, std::nullopt, std::string(), std::nullopt, completion);
        return std::nullopt;
    }
    // Most keys are the URL itself: then no string is built for them.
    std::optional<std::string> builtKey;
    if (!PelmarRemoteImageCacheKeys::keyIsURL(*url, request->processorKey)) {
        builtKey = cacheKeyForURL(url, request->processorKey);
    }
    const std::string& key = builtKey ? *builtKey : *url;
    if ((options & kPelmarImageRequestOptionBypassCache) == 0) {
        if (auto object = cache_->objectFromMemoryForKey(key)) {
            if (earlyReturnWithOptions(options, url, key, PelmarCacheObject(std::move(object)),
                                       completion)) {
                return std::nullopt;
            }
        }
    }
    if (hasScheme(*url, "data")) {
        if (auto data = net::dataWithContentsOfURL(*url)) {
            if (earlyReturnWithOptions(options, url, key, PelmarCacheObject(std::move(*data)),
                                       completion)) {
                return std::nullopt;
            }
        }
    }
    request->url = *url;
    request->key = key;
    request->uuid = inputUUID ? std::move(*inputUUID) : newUUID();
    registry_->markPending(request->uuid);
    std::weak_ptr<PelmarRemoteImageManager> weak = weak_from_this();
    concurrentOperationQueue_->scheduleOperation(
            [weak, request] {
                if (auto self = weak.lock()) {
                    self->registerRequest(request);
                }
            },
            operationPriorityWithImageManagerPriority(request->priority));
    return request->uuid;
}

bool PelmarRemoteImageManager::earlyReturnWithOptions(
        PelmarImageRequestOptions options,
        const std::optional<std::string>& url,
        const std::string& key,
        const std::optional<PelmarCacheObject>& object,
        const PelmarImageCompletion& completion) {
    PelmarImage image;
    PelmarImageRepresentation representation;
    if (url && object) {
        materializeAndCacheObject(object, std::nullopt, 0, std::nullopt, url, key, options, &image,
                                  &representation);
    }
    if (!completion || (url && !image && !representation)) {
        return false;
    }
    auto result = PelmarRemoteImageManagerResult::imageResultWithImage(
            image, representation, 0,
            url && object ? PelmarImageResultType::MemoryHit : PelmarImageResultType::None,
            std::nullopt, nullptr,
            url ? std::nullopt : std::optional<Error>(PelmarUnsupportedURLError()));
    deliverEarly(options, result, completion);
    return true;
}

bool PelmarRemoteImageManager::answerDecodedMemoryHit(PelmarRemoteImageMemoryContainer& entry,
                                                      PelmarImageRequestOptions options,
                                                      const PelmarImageCompletion& completion) {
    const bool consultsProvider =
            provider_ && (options & kPelmarImageRequestOptionNoAlternateRepresentation) == 0;
    // A host's provider may turn any data into a representation: only the general path asks it.
    if (!completion || (consultsProvider && !hasBuiltInProvider_)) {
        return false;
    }
    if (!entry.hasMemoryHitResult.load(std::memory_order_acquire)) {
        PelmarRemoteLock::Hold lock(entry.lock);
        if (!entry.image) {
            return false;
        }
        if (!entry.hasMemoryHitResult.load(std::memory_order_relaxed)) {
            // The built-in provider answers animated GIFs only: what the data is, is asked once.
            entry.dataIsAnimatedGIF = entry.data && pelmar_isAnimatedGIF(*entry.data);
            entry.memoryHitResult = PelmarRemoteImageManagerResult::imageResultWithImage(
                    entry.image, nullptr, 0, PelmarImageResultType::MemoryHit, std::nullopt,
                    nullptr, std::nullopt);
            entry.hasMemoryHitResult.store(true, std::memory_order_release);
        }
    }
    if (consultsProvider && entry.dataIsAnimatedGIF) {
        return false;
    }
    // Published once and never changed: the entry, held by the caller, keeps it alive.
    deliverEarly(options, entry.memoryHitResult, completion);
    return true;
}

void PelmarRemoteImageManager::deliverEarly(PelmarImageRequestOptions options,
                                            const PelmarImageResult& result,
                                            const PelmarImageCompletion& completion) {
    if ((options & kPelmarImageRequestOptionAlwaysAsynchronous) == 0 && mainQueue_->isCurrent()) {
        completion(result);
    } else {
        callbackQueue_->async([completion, result] { completion(result); });
    }
}

}  // namespace pelmar
