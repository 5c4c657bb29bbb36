#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "pelmar/imageloader/PelmarOperationQueue.h"
#include "pelmar/imageloader/PelmarRemoteImageCaching.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerConfiguration.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerPriority.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/PelmarRemoteImageTask.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"
#include "pelmar/imageloader/PelmarSpeedRecorder.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"
#include "pelmar/platform/net/URLSessionConfiguration.h"

namespace pelmar {

class PelmarRemoteImageDownloadTask;

namespace imageloader::internal {
class ImageManagerSettingsStore;
class ImageRequestRegistry;
class RemoteImageManagerPeer;
}  // namespace imageloader::internal

// Request options, a bit set.
using PelmarImageRequestOptions = uint32_t;
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionNone = 0;
// Only a still image is made; the alternate-representation provider is not asked.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionNoAlternateRepresentation =
        0x01;
// The image is not force-decoded and the decoded image is not kept in the memory cache.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionKeepEncoded = 0x02;
// An immediate answer goes to the callback queue even when the caller is on the main thread.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionAlwaysAsynchronous = 0x04;
// A processed image is stored as JPEG of quality 1.0 instead of PNG.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionStoreProcessedAsJPEG = 0x08;
// No memory check, no cache lookup, no stored resume data.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionBypassCache = 0x10;
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionNoRetry = 0x20;
// No maximum age is taken from the response headers.
inline constexpr PelmarImageRequestOptions kPelmarImageRequestOptionIgnoreCacheHeaders = 0x40;

// Codes of kPelmarRemoteImageManagerErrorDomain (kPelmarImageErrorEmptyDownload, 5, is the
// download task's).
inline constexpr long kPelmarImageErrorUndecodableData = 1;
inline constexpr long kPelmarImageErrorNoImageToProcess = 2;
inline constexpr long kPelmarImageErrorProcessorReturnedNil = 3;
inline constexpr long kPelmarImageErrorUnusableCacheEntry = 4;

// The error of a request without a usable URL: net::kURLErrorDomain, -1002, "unsupported URL".
Error PelmarUnsupportedURLError();

// High 2 gives the operation queue's high, default 1 its default, any other value low.
PelmarOperationQueuePriority operationPriorityWithImageManagerPriority(
        PelmarRemoteImageManagerPriority priority);

// High 2 gives 1.0, default 1 gives 0.5, any other value 0.0.
double dataTaskPriorityWithImageManagerPriority(PelmarRemoteImageManagerPriority priority);

// Turns downloaded data into an alternative representation (an animated image), or null when
// the data is not of its kind.
class PelmarRemoteImageManagerAlternateRepresentationProvider {
public:
    virtual ~PelmarRemoteImageManagerAlternateRepresentationProvider() = default;

    virtual PelmarImageRepresentation alternateRepresentationWithData(
            const std::string& data, PelmarImageRequestOptions options) = 0;
};

// The request property under which every outgoing request carries its image task.
inline constexpr std::string_view kPelmarRemoteImageWeakTaskKey = "PelmarRemoteImageWeakTaskKey";

// The value of kPelmarRemoteImageWeakTaskKey: the image task, held weakly.
struct PelmarRemoteImageWeakTask {
    std::weak_ptr<PelmarRemoteImageTask> task;
};

// Receives the download's result and a cost (starting at 0) it may set; returns the processed
// image, or null.
using PelmarImageProcessor =
        std::function<PelmarImage(const PelmarImageResult& result, uint64_t* cost)>;

// What materialising may be given: a memory container, a decoded image or encoded bytes.
using PelmarCacheObject =
        std::variant<std::shared_ptr<PelmarRemoteImageMemoryContainer>, PelmarImage, std::string>;

// Found, valid (false for an unusable entry, which has been removed), image, representation.
using PelmarCacheLookupCompletion = std::function<void(
        bool found, bool valid, const PelmarImage& image, const PelmarImageRepresentation& rep)>;

// PelmarRemoteImageManager: the entry point of remote image loading. A request names a URL (or
// alternative URLs of one image) with options, a priority and blocks. The manager answers from
// its memory cache when it can (on the calling main thread, without a queue hop), otherwise
// registers the request under its cache key, joins it to an identical request in flight (one
// task, one cache lookup, one download per key), asks the cache, and only then downloads. Every
// request has a UUID with which the caller can cancel it, change its priority or replace its
// progress-image block.
// Ownership: made by create() and held by shared_ptr; sharedImageManager() lives for the
//     process. Owns its queues, session manager, cache and tasks, and shares its speed recorder
//     with them; blocks it schedules hold it weakly. Destruction cancels every transfer.
// Threads: thread-safe; every entry point returns without waiting for network or cache work.
//     Completions, progress blocks and processors run on "PelmarRemoteImageManagerCallbackQueue"
//     (concurrent: any order, possibly in parallel), or synchronously on the calling main thread
//     for an immediate answer without kPelmarImageRequestOptionAlwaysAsynchronous; the caller must
//     then not hold a lock its completion takes. Configuration setters apply asynchronously on
//     the global queue. The authentication-challenge handler runs on the session manager's
//     operation queue (server trust) or on the challenged task's queue. The manager keeps
//     its requests in flight in a registry and its settings in snapshots, each under a lock of
//     its own (the registry's comes before every task lock); no lock of the manager is held
//     while a caller's block or a host handler runs or is destroyed.
// Errors: completions receive them: transport and HTTP errors unchanged, the codes above in
//     kPelmarRemoteImageManagerErrorDomain, PelmarUnsupportedURLError() for no usable URL.
//     Cancelled requests get no completion, except a nearly finished download cancelled with
//     storeResumeData, which keeps running for its callers. A challenge the host's handler
//     cancels ends the download with net::kURLErrorCancelled, without retries.
class PelmarRemoteImageManager : public PelmarURLSessionManagerDelegate,
                                 public std::enable_shared_from_this<PelmarRemoteImageManager> {
    struct Private {};

public:
    using MetricsCallback =
            std::function<void(const std::string& url, const net::URLSessionTaskMetrics& metrics)>;
    // Receives the outgoing request and returns the request to send.
    using RequestConfigurationHandler = std::function<net::URLRequest(const net::URLRequest&)>;
    using RetryStrategyCreationBlock = std::function<std::unique_ptr<PelmarRequestRetryStrategy>()>;
    // Answers a server's challenge by calling the completion once (from any thread); `task` is
    // null for server trust.
    using AuthenticationChallengeHandler =
            std::function<void(const PelmarDataTask& task,
                               const net::URLAuthenticationChallenge& challenge,
                               net::URLSessionChallengeCompletion completion)>;
    using SetterCompletion = std::function<void()>;

    // Without a session configuration: requests time out after 30 s of silence. Without a
    // provider: a PelmarAlternateRepresentationProvider (animated GIFs become animations).
    // Without a cache: defaultImageCache(). Without a configuration: its defaults.
    static std::shared_ptr<PelmarRemoteImageManager> create(
            std::optional<net::URLSessionConfiguration> sessionConfiguration = std::nullopt,
            std::shared_ptr<PelmarRemoteImageManagerAlternateRepresentationProvider> provider =
                    nullptr,
            std::shared_ptr<PelmarRemoteImageCaching> imageCache = nullptr,
            std::optional<PelmarRemoteImageManagerConfiguration> configuration = std::nullopt,
            std::shared_ptr<PelmarSpeedRecorder> speedRecorder =
                    PelmarSpeedRecorder::sharedRecorder());

    // Made once, on first use (or by setSharedImageManagerWithConfiguration before it).
    static std::shared_ptr<PelmarRemoteImageManager> sharedImageManager();

    // Makes the shared manager, which the image-view adapters and the image viewer load with,
    // from `configuration` and `imageCache` (as create() takes them) when none exists yet; later
    // calls do nothing. A host that wants those images kept across launches passes a
    // PelmarRemoteImageDiskCache here, before the first load.
    static void setSharedImageManagerWithConfiguration(
            std::optional<net::URLSessionConfiguration> configuration,
            std::shared_ptr<PelmarRemoteImageCaching> imageCache = nullptr);

    // A new PelmarRemoteImageBasicCache: defaultImageCacheEnablingTtl(false).
    static std::shared_ptr<PelmarRemoteImageCaching> defaultImageCache();

    // defaultImageCacheEnablingTtl(true).
    static std::shared_ptr<PelmarRemoteImageCaching> defaultImageTtlCache();

    // A new PelmarRemoteImageBasicCache whatever `enableTtl` says: that cache keeps no ages.
    static std::shared_ptr<PelmarRemoteImageCaching> defaultImageCacheEnablingTtl(bool enableTtl);

    // Three retries, delays 4, 16 and 64 s.
    static std::unique_ptr<PelmarRequestRetryStrategy> defaultRetryStrategy();

    PelmarRemoteImageManager(
            Private,
            const std::optional<net::URLSessionConfiguration>& sessionConfiguration,
            std::shared_ptr<PelmarRemoteImageManagerAlternateRepresentationProvider> provider,
            std::shared_ptr<PelmarRemoteImageCaching> imageCache,
            const PelmarRemoteImageManagerConfiguration& configuration,
            std::shared_ptr<PelmarSpeedRecorder> speedRecorder);

    ~PelmarRemoteImageManager() override;

    PelmarRemoteImageManager(const PelmarRemoteImageManager&) = delete;
    PelmarRemoteImageManager& operator=(const PelmarRemoteImageManager&) = delete;

    // Downloads. A URL of none (or text that is not a URL) answers PelmarUnsupportedURLError().
    // Each returns the request's UUID, or none when the answer was given immediately.
    std::optional<std::string> downloadImageWithURL(const std::optional<std::string>& url,
                                                    PelmarImageCompletion completion);

    std::optional<std::string> downloadImageWithURL(const std::optional<std::string>& url,
                                                    PelmarImageRequestOptions options,
                                                    PelmarImageCompletion completion);

    std::optional<std::string> downloadImageWithURL(const std::optional<std::string>& url,
                                                    PelmarImageRequestOptions options,
                                                    PelmarRemoteImageManagerPriority priority,
                                                    PelmarImageCompletion progressImage,
                                                    PelmarImageProgressDownload progressDownload,
                                                    PelmarImageCompletion completion);

    std::optional<std::string> downloadImageWithURL(const std::optional<std::string>& url,
                                                    PelmarImageRequestOptions options,
                                                    const std::string& processorKey,
                                                    PelmarImageProcessor processor,
                                                    PelmarImageCompletion completion);

    // The full form; the others forward to it.
    std::optional<std::string> downloadImageWithURL(const std::optional<std::string>& url,
                                                    PelmarImageRequestOptions options,
                                                    PelmarRemoteImageManagerPriority priority,
                                                    const std::string& processorKey,
                                                    PelmarImageProcessor processor,
                                                    PelmarImageCompletion progressImage,
                                                    PelmarImageProgressDownload progressDownload,
                                                    PelmarImageCompletion completion,
                                                    std::optional<std::string> inputUUID);

    // `urls` from lowest to highest quality: loads the one the cache and the measured network
    // speed favour. Always returns a UUID.
    std::string downloadImageWithURLs(const std::vector<std::string>& urls,
                                      PelmarImageRequestOptions options,
                                      PelmarImageCompletion progressImage,
                                      PelmarImageProgressDownload progressDownload,
                                      PelmarImageCompletion completion);

    // Loads into the cache only; never answered early, never calls anything.
    std::optional<std::string> prefetchImageWithURL(
            const std::optional<std::string>& url,
            PelmarImageRequestOptions options = kPelmarImageRequestOptionAlwaysAsynchronous,
            PelmarRemoteImageManagerPriority priority = kPelmarRemoteImageManagerPriorityLow);

    // One UUID per URL, in order.
    std::vector<std::string> prefetchImagesWithURLs(
            const std::vector<std::string>& urls,
            PelmarImageRequestOptions options = kPelmarImageRequestOptionAlwaysAsynchronous,
            PelmarRemoteImageManagerPriority priority = kPelmarRemoteImageManagerPriorityLow);

    // Control of running requests, scheduled at high priority; unknown UUIDs change nothing.
    void cancelTaskWithUUID(const std::string& uuid, bool storeResumeData = false);

    void cancelAllTasks(bool storeResumeData = false);

    void setPriority(PelmarRemoteImageManagerPriority priority, const std::string& uuid);

    void setProgressImageCallback(PelmarImageCompletion progressImage, const std::string& uuid);

    // Cache keys and cache reads.
    static std::optional<std::string> cacheKeyForURL(const std::optional<std::string>& url,
                                                     const std::string& processorKey = {});

    static std::optional<std::string> resumeCacheKeyForURL(const std::optional<std::string>& url);

    void storeResumeData(const PelmarResume& resume, const std::string& url);

    void objectForKey(const std::string& key,
                      PelmarImageRequestOptions options,
                      PelmarCacheLookupCompletion completion);

    // Asks the memory tier, then the persistent tier; materialises what it finds.
    void objectForURL(const std::optional<std::string>& url,
                      const std::string& processorKey,
                      const std::optional<std::string>& key,
                      PelmarImageRequestOptions options,
                      PelmarCacheLookupCompletion completion);

    // Turns `object` into an image or representation and stores it: in memory (cost = data
    // bytes + `additionalCost` + decoded bitmap bytes) and, when given, `persistentCopy` in the
    // persistent tier; a `maxAge` of 0 stores nothing. False when nothing usable came out (the
    // key is then removed).
    bool materializeAndCacheObject(const std::optional<PelmarCacheObject>& object,
                                   const std::optional<std::string>& persistentCopy,
                                   uint64_t additionalCost,
                                   std::optional<int64_t> maxAge,
                                   const std::optional<std::string>& url,
                                   const std::string& key,
                                   PelmarImageRequestOptions options,
                                   PelmarImage* outImage,
                                   PelmarImageRepresentation* outAltRep);

    void imageFromCacheWithCacheKey(const std::string& key,
                                    PelmarImageRequestOptions options,
                                    PelmarImageCompletion completion);

    // On the main thread without kPelmarImageRequestOptionAlwaysAsynchronous, a memory hit
    // completes before the call returns; everything else completes on the callback queue (a
    // miss with no image and no error, an unusable entry with kPelmarImageErrorUnusableCacheEntry).
    void imageFromCacheWithURL(const std::optional<std::string>& url,
                               const std::string& processorKey,
                               const std::optional<std::string>& cacheKey,
                               PelmarImageRequestOptions options,
                               PelmarImageCompletion completion);

    PelmarImageResult synchronousImageFromCacheWithCacheKey(const std::string& key,
                                                            PelmarImageRequestOptions options);

    // The memory tier only; null when neither URL nor key is given.
    PelmarImageResult synchronousImageFromCacheWithURL(const std::optional<std::string>& url,
                                                       const std::string& processorKey,
                                                       const std::optional<std::string>& cacheKey,
                                                       PelmarImageRequestOptions options);

    // Stores `data` as if downloaded from `url`, kept encoded; false for no data or when the
    // data makes no image.
    bool insertImageDataIntoCache(const std::optional<std::string>& data,
                                  const std::string& url,
                                  const std::string& processorKey,
                                  uint64_t additionalCost);

    // Configuration setters: applied asynchronously on the global queue, then `completion` (may
    // be empty) runs there.
    void setValueForHTTPHeaderField(std::optional<std::string> value, std::string field);
    void setRequestConfiguration(RequestConfigurationHandler handler);
    // Without a handler, challenges get default handling (a 401 is the answer, an untrusted
    // certificate fails the download).
    void setAuthenticationChallenge(AuthenticationChallengeHandler handler,
                                    SetterCompletion completion = {});
    void setMaxNumberOfConcurrentOperations(unsigned maximum, SetterCompletion completion = {});
    void setMaxNumberOfConcurrentDownloads(unsigned maximum, SetterCompletion completion = {});
    void setEstimatedRemainingTimeThresholdForProgressiveDownloads(
            double seconds, SetterCompletion completion = {});
    void setProgressThresholds(std::vector<float> thresholds, SetterCompletion completion = {});
    void setProgressiveRendersShouldBlur(bool shouldBlur, SetterCompletion completion = {});
    void setProgressiveRendersMaxProgressiveRenderSize(PelmarSize size,
                                                       SetterCompletion completion = {});
    void setHighQualityBPSThreshold(float bytesPerSecond, SetterCompletion completion = {});
    void setLowQualityBPSThreshold(float bytesPerSecond, SetterCompletion completion = {});
    void setShouldUpgradeLowQualityImages(bool shouldUpgrade, SetterCompletion completion = {});
    void setMetricsCallback(MetricsCallback callback, SetterCompletion completion = {});
    // Scheduled at high priority on the operation queue.
    void setRetryStrategyCreationBlock(RetryStrategyCreationBlock block);

    const std::shared_ptr<dispatch::Queue>& callbackQueue() const { return callbackQueue_; }

    const std::shared_ptr<PelmarOperationQueue>& concurrentOperationQueue() const {
        return concurrentOperationQueue_;
    }

    const std::shared_ptr<PelmarRemoteImageDownloadQueue>& urlSessionTaskQueue() const {
        return urlSessionTaskQueue_;
    }

    const std::shared_ptr<PelmarURLSessionManager>& sessionManager() const {
        return sessionManager_;
    }

    const std::shared_ptr<PelmarRemoteImageCaching>& cache() const { return cache_; }

    bool diskCacheTTLIsEnabled() const { return diskCacheTTLIsEnabled_; }

    bool memoryCacheTTLIsEnabled() const { return memoryCacheTTLIsEnabled_; }

private:
    friend class imageloader::internal::RemoteImageManagerPeer;

    // Drops the shared manager, so that the next sharedImageManager() or
    // setSharedImageManagerWithConfiguration() makes a new one (tests that set it up their way).
    static void forgetSharedImageManager();

    struct Request;

    // PelmarURLSessionManagerDelegate: events routed to the image task that made the request.
    void didReceiveData(const std::string& data, const PelmarDataTask& task) override;
    void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>& response,
                            const PelmarDataTask& task) override;
    void didCollectMetrics(const net::URLSessionTaskMetrics& metrics,
                           const std::string& url) override;
    // Calls the host's handler (from a settings snapshot, without any lock), or default
    // handling.
    void didReceiveAuthenticationChallenge(const net::URLAuthenticationChallenge& challenge,
                                           const PelmarDataTask& task,
                                           net::URLSessionChallengeCompletion completion) override;

    // The request for `url` with the header fields and the host's request hook of the current
    // settings, carrying `task` weakly under kPelmarRemoteImageWeakTaskKey.
    net::URLRequest requestWithURL(const std::string& url,
                                   const std::shared_ptr<PelmarRemoteImageTask>& task);

    // Answers the caller now when it can; true when it did.
    bool earlyReturnWithOptions(PelmarImageRequestOptions options,
                                const std::optional<std::string>& url,
                                const std::string& key,
                                const std::optional<PelmarCacheObject>& object,
                                const PelmarImageCompletion& completion);

    // The quick answer of a memory hit: only for a usable URL that is its own cache key, an
    // entry already decoded, and no alternate representation; false (nothing done) otherwise.
    bool answerFromMemory(const std::optional<std::string>& url,
                          std::string_view processorKey,
                          PelmarImageRequestOptions options,
                          const PelmarImageCompletion& completion);

    // Every request that the quick memory answer did not take: unusable URLs, memory hits that
    // need decoding or an alternate representation, "data" URLs, and registration. `request`
    // comes with its options, priority, processor and callbacks; the rest is filled in here.
    std::optional<std::string> startDownload(const std::optional<std::string>& url,
                                             std::shared_ptr<Request> request,
                                             std::optional<std::string> inputUUID);

    // Answers a memory hit of an entry already decoded, with the entry's shared result; false
    // (nothing done) when the entry needs the general path: no completion, no decoded image yet,
    // or an alternate-representation provider that may apply (a host's provider, or the built-in
    // one for an animated GIF).
    bool answerDecodedMemoryHit(PelmarRemoteImageMemoryContainer& entry,
                                PelmarImageRequestOptions options,
                                const PelmarImageCompletion& completion);

    // Answers `result` inside the call on the main thread, else on the callback queue.
    void deliverEarly(PelmarImageRequestOptions options,
                      const PelmarImageResult& result,
                      const PelmarImageCompletion& completion);

    void registerRequest(const std::shared_ptr<Request>& request);
    void lookUp(const std::shared_ptr<Request>& request);
    void download(const std::shared_ptr<Request>& request);
    void finishDownload(const std::shared_ptr<Request>& request,
                        std::optional<std::string> data,
                        const std::shared_ptr<const net::HTTPURLResponse>& response,
                        std::optional<Error> error);
    void process(const std::shared_ptr<Request>& request);
    void processed(const std::shared_ptr<Request>& request, const PelmarImageResult& inner);

    std::shared_ptr<PelmarRemoteImageDownloadTask> downloadTaskFor(const PelmarDataTask& task);

    void applySetting(std::function<void(PelmarRemoteImageManager&)> change,
                      SetterCompletion completion);

    const std::shared_ptr<dispatch::Queue> callbackQueue_;
    // Held so that the main-thread check of every early answer copies no queue.
    const std::shared_ptr<dispatch::Queue> mainQueue_;
    const std::shared_ptr<PelmarSpeedRecorder> speedRecorder_;  // never null
    const std::shared_ptr<PelmarRemoteImageCaching> cache_;
    // True when provider_ is the manager's own PelmarAlternateRepresentationProvider, which
    // answers animated GIFs only.
    const bool hasBuiltInProvider_;
    const std::shared_ptr<PelmarRemoteImageManagerAlternateRepresentationProvider> provider_;
    net::URLSessionConfiguration sessionConfiguration_;
    bool diskCacheTTLIsEnabled_ = false;
    bool memoryCacheTTLIsEnabled_ = false;
    std::shared_ptr<PelmarOperationQueue> concurrentOperationQueue_;
    std::shared_ptr<PelmarRemoteImageDownloadQueue> urlSessionTaskQueue_;
    std::shared_ptr<PelmarURLSessionManager> sessionManager_;

    // Settings the setters change, and the requests in flight: each with its own lock.
    const std::unique_ptr<imageloader::internal::ImageManagerSettingsStore> settings_;
    const std::unique_ptr<imageloader::internal::ImageRequestRegistry> registry_;
};

}  // namespace pelmar
