#include "pelmar/imageloader/PelmarRemoteImageManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "pelmar/imageloader/PelmarAlternateRepresentationProvider.h"
#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"
#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/net/URLContents.h"
#include "pelmar/platform/net/URLError.h"

namespace pelmar {

struct PelmarRemoteImageManager::Request {
    std::string url;
    std::string key;
    std::string uuid;
    PelmarImageRequestOptions options = 0;
    PelmarRemoteImageManagerPriority priority = kPelmarRemoteImageManagerPriorityDefault;
    std::string processorKey;
    PelmarImageProcessor processor;
    PelmarImageCompletion progressImage;
    PelmarImageProgressDownload progressDownload;
    PelmarImageCompletion completion;
    bool isProcessor = false;
};

namespace {

constexpr double kDefaultRequestTimeout = 30.0;

std::string newUUID() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    uint64_t high = 0;
    uint64_t low = 0;
    {
        std::lock_guard lock(mutex);
        high = generator();
        low = generator();
    }
    high = (high & ~0xF000ULL) | 0x4000ULL;            // version 4
    low = (low & ~(0xC0ULL << 56)) | (0x80ULL << 56);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

// Sixteen bytes, compared all at once.
using Bytes16 = uint8_t __attribute__((vector_size(16)));

// Whether any of the 16 bytes never stands in a URL as it is: a blank, a control or one of
// "<>\\^`{|}. Setting bit 1 of every byte folds '<' onto '>', '\\' onto '^', '}' onto DEL and
// the space onto '"', which leaves eight comparisons.
bool hasUnsafeURLByte(Bytes16 bytes) {
    const Bytes16 folded = bytes | 0x02;
    const auto unsafe = (bytes <= 0x20) | (bytes == '`') | (bytes == '{') | (bytes == '|')
                        | (folded == '>') | (folded == '^') | (folded == 0x7F) | (folded == '"');
    uint64_t halves[2];
    std::memcpy(halves, &unsafe, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

constexpr bool isASCIIAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What a URL parser would accept: a scheme, and no blank, control or unsafe character.
bool isUsableURL(std::string_view url) {
    if (url.empty() || !isASCIIAlpha(url.front())) {
        return false;
    }
    // The scheme runs up to the first colon; schemes are short, so no search is needed.
    std::size_t colon = 1;
    while (colon < url.size() && url[colon] != ':') {
        const char c = url[colon];
        if (!isASCIIAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return false;
        }
        ++colon;
    }
    if (colon == url.size()) {
        return false;
    }
    // Sixteen bytes at a time, the last chunk overlapping the one before; a URL shorter than
    // that is padded with a letter.
    Bytes16 chunk;
    if (url.size() < sizeof chunk) {
        std::memset(&chunk, 'a', sizeof chunk);
        std::memcpy(&chunk, url.data(), url.size());
        return !hasUnsafeURLByte(chunk);
    }
    for (std::size_t at = 0;; at += sizeof chunk) {
        const std::size_t from = std::min(at, url.size() - sizeof chunk);
        std::memcpy(&chunk, url.data() + from, sizeof chunk);
        if (hasUnsafeURLByte(chunk)) {
            return false;
        }
        if (from + sizeof chunk == url.size()) {
            return true;
        }
    }
}

bool hasDataScheme(std::string_view url) {
    return url.size() >= 5 && std::equal(url.begin(), url.begin() + 5, "data:", [](char a, char b) {
               return std::tolower(a) == b;
           });
}

Error managerError(long code) {
    return Error{std::string(kPelmarRemoteImageManagerErrorDomain), code, ""};
}

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
        PelmarSpeedRecorder& speedRecorder) {
    auto manager = std::make_shared<PelmarRemoteImageManager>(
            Private{}, sessionConfiguration, std::move(provider), std::move(imageCache),
            configuration.value_or(PelmarRemoteImageManagerConfiguration{}), speedRecorder);
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
        net::URLSessionConfiguration configuration) {
    std::lock_guard lock(sharedMutex());
    auto& shared = sharedManagerSlot();
    if (!shared) {
        shared = create(std::move(configuration));
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
        PelmarSpeedRecorder& speedRecorder)
    : callbackQueue_(dispatch::Queue::concurrent("PelmarRemoteImageManagerCallbackQueue")),
      mainQueue_(dispatch::Queue::main()),
      speedRecorder_(speedRecorder),
      cache_(imageCache ? std::move(imageCache) : defaultImageCache()),
      // Without a provider of its own, the manager turns animated GIFs into animations.
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
    if (hasDataScheme(*url)) {
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
    {
        PelmarRemoteLock::Hold lock(lock_);
        pendingRegistrations_.insert(request->uuid);
    }
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
    if (!completion
        || (provider_ && (options & kPelmarImageRequestOptionNoAlternateRepresentation) == 0)) {
        return false;
    }
    if (!entry.hasMemoryHitResult.load(std::memory_order_acquire)) {
        PelmarRemoteLock::Hold lock(entry.lock);
        if (!entry.image) {
            return false;
        }
        if (!entry.hasMemoryHitResult.load(std::memory_order_relaxed)) {
            entry.memoryHitResult = PelmarRemoteImageManagerResult::imageResultWithImage(
                    entry.image, nullptr, 0, PelmarImageResultType::MemoryHit, std::nullopt,
                    nullptr, std::nullopt);
            entry.hasMemoryHitResult.store(true, std::memory_order_release);
        }
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

void PelmarRemoteImageManager::registerRequest(const std::shared_ptr<Request>& request) {
    bool isNew = false;
    {
        PelmarRemoteLock::Hold lock(lock_);
        pendingRegistrations_.erase(request->uuid);
        if (canceledTasks_.erase(request->uuid) > 0) {
            return;
        }
        auto& task = tasks_[request->key];
        if (!task) {
            isNew = true;
            if (request->isProcessor) {
                task = std::make_shared<PelmarRemoteImageProcessorTask>(
                        request->key, callbackQueue_, weak_from_this());
            } else {
                PelmarRemoteImageDownloadTask::Environment environment;
                environment.sessionManager = sessionManager_;
                environment.downloadQueue = urlSessionTaskQueue_;
                environment.operationQueue = concurrentOperationQueue_;
                environment.callbackQueue = callbackQueue_;
                environment.speedRecorder = &speedRecorder_;
                environment.manager = weak_from_this();
                // The creation block is read under the lock already held.
                task = PelmarRemoteImageDownloadTask::create(
                        request->key, std::move(environment),
                        retryStrategyCreationBlock_ ? retryStrategyCreationBlock_() : nullptr);
            }
        }
        task->addCallbacksWithCompletionBlock(request->completion, request->progressImage,
                                              request->progressDownload, request->uuid);
        UUIDToTask_[request->uuid] = task;
    }
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
                         self->callCompletionsWithKey(request->key, image, representation, true,
                                                      nullptr, std::nullopt, true);
                         return;
                     }
                     // Not found, or found unusable (and already removed): the same task goes
                     // on to fetch the image, so requests joined to it are answered too.
                     std::shared_ptr<PelmarRemoteImageTask> task;
                     {
                         PelmarRemoteLock::Hold lock(self->lock_);
                         const auto registered = self->tasks_.find(request->key);
                         if (registered != self->tasks_.end()) {
                             task = registered->second;
                         }
                     }
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
    std::shared_ptr<PelmarRemoteImageDownloadTask> task;
    {
        PelmarRemoteLock::Hold lock(lock_);
        const auto found = tasks_.find(request->key);
        if (found != tasks_.end()) {
            task = std::dynamic_pointer_cast<PelmarRemoteImageDownloadTask>(found->second);
        }
    }
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
                // Already on the operation queue.
                if (auto self = weak.lock()) {
                    self->finishDownload(request, std::move(data), response, error);
                }
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
    callCompletionsWithKey(request->key, image, representation, false, response, error, true);
}

void PelmarRemoteImageManager::process(const std::shared_ptr<Request>& request) {
    std::shared_ptr<PelmarRemoteImageProcessorTask> task;
    {
        PelmarRemoteLock::Hold lock(lock_);
        const auto found = tasks_.find(request->key);
        if (found != tasks_.end()) {
            task = std::dynamic_pointer_cast<PelmarRemoteImageProcessorTask>(found->second);
        }
    }
    if (!task || task->downloadTaskUUID()) {
        return;
    }
    // The inner request is made without the manager lock: it takes that lock itself.
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
    bool stillRegistered = false;
    {
        PelmarRemoteLock::Hold lock(lock_);
        const auto found = tasks_.find(request->key);
        stillRegistered = found != tasks_.end() && found->second == task;
    }
    if (!stillRegistered && task->downloadTaskUUID()) {
        // Every caller left while the inner request was being made.
        task->setDownloadTaskUUID(std::nullopt);
        cancelTaskWithUUID(*inner);
    }
}

void PelmarRemoteImageManager::processed(const std::shared_ptr<Request>& request,
                                         const PelmarImageResult& inner) {
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (!tasks_.contains(request->key)) {
            return;
        }
    }
    if (inner->error() || !inner->image()) {
        callCompletionsWithKey(
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
    callCompletionsWithKey(request->key, image, nullptr, false, inner->response(), error, false);
    if (image) {
        const auto copy = (request->options & kPelmarImageRequestOptionStoreProcessedAsJPEG) != 0
                                  ? PelmarDecodedImage::JPEGRepresentation(*image, 1.0)
                                  : PelmarDecodedImage::PNGRepresentation(*image);
        materializeAndCacheObject(PelmarCacheObject(image), copy, cost, std::nullopt, request->url,
                                  request->key, request->options, nullptr, nullptr);
    }
    callCompletionsWithKey(request->key, image, nullptr, false, inner->response(), error, true);
}

void PelmarRemoteImageManager::callCompletionsWithKey(
        const std::string& key,
        const PelmarImage& image,
        const PelmarImageRepresentation& alternativeRepresentation,
        bool cached,
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<Error>& error,
        bool finalized) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = tasks_.find(key);
    if (found == tasks_.end()) {
        return;
    }
    const auto task = found->second;
    task->callCompletionsWithImage(image, alternativeRepresentation, cached, response, error,
                                   !finalized);
    if (finalized) {
        l_unregister(key, task);
    }
}

void PelmarRemoteImageManager::l_unregister(const std::string& key,
                                            const std::shared_ptr<PelmarRemoteImageTask>& task) {
    const auto found = tasks_.find(key);
    if (found == tasks_.end() || found->second != task) {
        return;  // the key already belongs to a newer task
    }
    tasks_.erase(found);
    std::erase_if(UUIDToTask_, [&task](const auto& entry) {
        const auto held = entry.second.lock();
        return !held || held == task;
    });
}

net::URLRequest PelmarRemoteImageManager::requestWithURL(
        const std::string& url, const std::shared_ptr<PelmarRemoteImageTask>& task) {
    net::URLRequest request(url, sessionConfiguration_.timeoutIntervalForRequest);
    RequestConfigurationHandler handler;
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (!httpHeaderFields_.empty()) {
            request.allHTTPHeaderFields = httpHeaderFields_;
        }
        handler = requestConfigurationHandler_;
    }
    if (handler) {
        request = handler(request);
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
                float high = 0;
                float low = 0;
                bool upgrade = false;
                {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    high = self->highQualityBPSThreshold_;
                    low = self->lowQualityBPSThreshold_;
                    upgrade = self->shouldUpgradeLowQualityImages_;
                }
                const std::size_t speedIndex =
                        self->speedRecorder_
                                .appropriateImageIdxForURLsGivenHistoricalNetworkConditions(
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
            [handler = std::move(handler)](PelmarRemoteImageManager& self) {
                PelmarRemoteLock::Hold lock(self.lock_);
                self.requestConfigurationHandler_ = handler;
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

#define PELMAR_MANAGER_SETTER(Method, Type, member)                                  \
    void PelmarRemoteImageManager::Method(Type value, SetterCompletion completion) { \
        applySetting(                                                                \
                [value = std::move(value)](PelmarRemoteImageManager& self) {         \
                    PelmarRemoteLock::Hold lock(self.lock_);                         \
                    self.member = value;                                             \
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
            [weak, block = std::move(block)] {
                if (auto self = weak.lock()) {
                    PelmarRemoteLock::Hold lock(self->lock_);
                    self->retryStrategyCreationBlock_ = block;
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

}  // namespace pelmar
