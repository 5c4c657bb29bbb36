#include "pelmar/platform/photos/ImageManager.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/photos/internal/DecodeBudget.h"
#include "pelmar/platform/photos/internal/PictureScaler.h"

namespace pelmar::photos {

namespace {

// The degraded version: small and quick (a JPEG then decodes at 1/8).
constexpr double kDegradedSide = 128;

std::size_t costOf(const image::Bitmap& bitmap) {
    return bitmap.byteCount();
}

// Decodes of one manager running at once: more would only wait on each other and on memory.
int maxDecoders() {
    static const int count =
            std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 8);
    return count;
}

}  // namespace

ImageManager::ImageManager() : budget_(std::make_unique<internal::DecodeBudget>(kDecodeBytes)) {}

ImageManager::~ImageManager() = default;

const std::shared_ptr<ImageManager>& ImageManager::defaultManager() {
    static const std::shared_ptr<ImageManager> manager = std::make_shared<ImageManager>();
    return manager;
}

ImageManager::Key ImageManager::keyFor(const Asset& asset,
                                       PixelSize size,
                                       ImageContentMode mode,
                                       bool degraded) const {
    return Key{asset.localIdentifier(),
               asset.revision(),
               static_cast<int>(std::lround(size.width)),
               static_cast<int>(std::lround(size.height)),
               mode,
               degraded};
}

std::shared_ptr<image::Bitmap> ImageManager::cached(const Key& key) {
    MutexLock lock(mutex_);
    auto found = cache_.find(key);
    if (found == cache_.end()) {
        return nullptr;
    }
    recency_.splice(recency_.begin(), recency_, found->second.second);
    return found->second.first;
}

void ImageManager::store(const Key& key, const std::shared_ptr<image::Bitmap>& bitmap) {
    const std::size_t cost = costOf(*bitmap);
    if (cost > kCacheBytes / 4) {
        return;  // one huge picture would push everything else out
    }
    MutexLock lock(mutex_);
    if (cache_.contains(key)) {
        return;
    }
    recency_.push_front(key);
    cache_.emplace(key, std::make_pair(bitmap, recency_.begin()));
    cacheBytes_ += cost;
    while (cacheBytes_ > kCacheBytes && !recency_.empty()) {
        auto victim = cache_.find(recency_.back());
        cacheBytes_ -= costOf(*victim->second.first);
        cache_.erase(victim);
        recency_.pop_back();
    }
}

std::pair<std::shared_ptr<image::Bitmap>, std::optional<Error>> ImageManager::produce(
        const Asset& asset, const Key& key) {
    if (auto hit = cached(key)) {
        return {hit, std::nullopt};
    }
    {
        MutexLock lock(mutex_);
        ++counters_.decodes;
    }
    const bool fill = key.mode == ImageContentMode::AspectFill;
    const auto result =
            asset.mediaType() == AssetMediaType::Video
                    ? internal::decodeMovieFrame(asset.file(), key.width, key.height, fill)
                    : internal::decodePicture(asset.file(), key.width, key.height, fill, *budget_);
    if (result.bitmap) {
        store(key, result.bitmap);
    }
    return {result.bitmap, result.error};
}

std::string ImageManager::downloadKey(const Asset& asset) {
    return asset.localIdentifier() + '\n' + asset.file().string();
}

bool ImageManager::live(ImageRequestID request) {
    MutexLock lock(mutex_);
    return pending_.contains(request);
}

void ImageManager::deliver(ImageRequestID request,
                           const ResultHandler& handler,
                           std::shared_ptr<image::Bitmap> bitmap,
                           ImageResultInfo info,
                           bool last) {
    // Checked on the delivering thread, so that a cancel made before never sees a call.
    {
        MutexLock lock(mutex_);
        if (!pending_.contains(request)) {
            return;
        }
        if (last) {
            pending_.erase(request);
        }
    }
    if (handler) {
        handler(std::move(bitmap), info);
    }
}

ImageRequestID ImageManager::requestImage(const AssetPtr& asset,
                                          PixelSize targetSize,
                                          ImageContentMode contentMode,
                                          const ImageRequestOptions& options,
                                          ResultHandler handler) {
    ImageRequestID request;
    {
        MutexLock lock(mutex_);
        request = nextRequest_++;
        if (nextRequest_ <= 0) {
            nextRequest_ = 1;
        }
        pending_.insert(request);
        ++counters_.requests;
    }
    const bool degradedFirst =
            options.deliveryMode == ImageRequestOptions::DeliveryMode::Opportunistic
            && std::max(targetSize.width, targetSize.height) > kDegradedThreshold;
    const bool fastOnly = options.deliveryMode == ImageRequestOptions::DeliveryMode::FastFormat
                          && std::max(targetSize.width, targetSize.height) > kDegradedSide;
    auto work = [self = shared_from_this(), asset, targetSize, contentMode, degradedFirst, fastOnly,
                 request, handler, synchronous = options.synchronous,
                 network = options.networkAccessAllowed, progress = options.progressHandler] {
        auto post = [&](std::shared_ptr<image::Bitmap> bitmap, ImageResultInfo info, bool last) {
            if (synchronous) {
                self->deliver(request, handler, std::move(bitmap), std::move(info), last);
                return;
            }
            dispatch::Queue::main()->async([self, request, handler, bitmap, info, last] {
                self->deliver(request, handler, bitmap, info, last);
            });
        };
        if (!synchronous && !self->live(request)) {
            return;  // cancelled while it waited for a decoder
        }
        if (!asset) {
            post(nullptr,
                 {false,
                  Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource, "no asset"}},
                 true);
            return;
        }
        if (degradedFirst || fastOnly) {
            const double scale = kDegradedSide / std::max(targetSize.width, targetSize.height);
            const PixelSize small{targetSize.width * scale, targetSize.height * scale};
            auto [bitmap, error] =
                    self->produce(*asset, self->keyFor(*asset, small, contentMode, true));
            if (fastOnly || error) {
                post(bitmap, {false, error}, true);
                return;
            }
            post(bitmap, {true, std::nullopt}, false);
            if (!self->live(request)) {
                return;
            }
        }
        if (auto refused = self->download(*asset, request, network, progress)) {
            post(nullptr, {false, refused}, true);
            return;
        }
        auto [bitmap, error] =
                self->produce(*asset, self->keyFor(*asset, targetSize, contentMode, false));
        post(bitmap, {false, error}, true);
    };
    if (options.synchronous) {
        work();
    } else {
        schedule(std::move(work));
    }
    return request;
}

std::optional<Error> ImageManager::download(const Asset& asset,
                                            ImageRequestID request,
                                            bool networkAccessAllowed,
                                            const ImageProgressHandler& progress) {
    if (!asset.isInCloud()) {
        return std::nullopt;
    }
    {
        MutexLock lock(mutex_);
        if (downloaded_.contains(downloadKey(asset))) {
            return std::nullopt;
        }
    }
    if (!networkAccessAllowed) {
        return Error{
                std::string(kPhotosErrorDomain), kPhotosErrorNetworkAccessRequired,
                asset.localIdentifier() + " is in the cloud and network access is not allowed"};
    }
    // The cloud copy is the library's file: it arrives piece by piece.
    std::ifstream in(asset.file(), std::ios::binary);
    std::error_code ec;
    const auto total = std::filesystem::file_size(asset.file(), ec);
    if (!in || ec) {
        return Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource,
                     "cannot download " + asset.file().string()};
    }
    std::vector<char> chunk(kCloudChunkBytes);
    std::uintmax_t received = 0;
    while (received < total) {
        if (!live(request)) {
            return Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource,
                         "the request was cancelled"};
        }
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = in.gcount();
        if (got <= 0) {
            return Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource,
                         "cannot download " + asset.file().string()};
        }
        received += static_cast<std::uintmax_t>(got);
        if (progress) {
            progress(static_cast<double>(received) / static_cast<double>(total));
        }
    }
    MutexLock lock(mutex_);
    downloaded_.insert(downloadKey(asset));
    return std::nullopt;
}

void ImageManager::schedule(std::function<void()> work) {
    {
        MutexLock lock(mutex_);
        if (running_ >= maxDecoders()) {
            waiting_.push_back(std::move(work));
            return;
        }
        ++running_;
    }
    dispatch::Queue::global()->async([self = shared_from_this(), work = std::move(work)]() mutable {
        self->runScheduled(std::move(work));
    });
}

void ImageManager::runScheduled(std::function<void()> work) {
    for (;;) {
        if (work) {
            work();
        }
        MutexLock lock(mutex_);
        if (waiting_.empty()) {
            --running_;
            return;
        }
        work = std::move(waiting_.front());
        waiting_.pop_front();
    }
}

void ImageManager::cancelImageRequest(ImageRequestID request) {
    MutexLock lock(mutex_);
    ++counters_.cancels;
    pending_.erase(request);
}

void ImageManager::startCachingImages(const std::vector<AssetPtr>& assets,
                                      PixelSize targetSize,
                                      ImageContentMode contentMode) {
    int64_t generation;
    {
        MutexLock lock(mutex_);
        ++counters_.cachingStarts;
        generation = cachingGeneration_;
    }
    dispatch::Queue::global()->async(
            [self = shared_from_this(), assets, targetSize, contentMode, generation] {
                for (const auto& asset : assets) {
                    {
                        MutexLock lock(self->mutex_);
                        if (self->cachingGeneration_ != generation) {
                            return;
                        }
                    }
                    bool onDevice = asset && !asset->isInCloud();
                    if (asset && !onDevice) {
                        MutexLock lock(self->mutex_);
                        onDevice = self->downloaded_.contains(downloadKey(*asset));
                    }
                    // Caching never downloads: a cloud asset waits for a request.
                    if (onDevice) {
                        self->produce(*asset, self->keyFor(*asset, targetSize, contentMode, false));
                    }
                }
            });
}

void ImageManager::stopCachingImagesForAllAssets() {
    MutexLock lock(mutex_);
    ++counters_.cachingStops;
    ++cachingGeneration_;
}

void ImageManager::requestAVAsset(
        const AssetPtr& asset, std::function<void(std::optional<std::filesystem::path>)> handler) {
    VideoRequestOptions options;
    options.networkAccessAllowed = true;
    requestAVAsset(asset, options, std::move(handler));
}

void ImageManager::requestAVAsset(
        const AssetPtr& asset,
        const VideoRequestOptions& options,
        std::function<void(std::optional<std::filesystem::path>)> handler) {
    auto answer = [handler = std::move(handler)](std::optional<std::filesystem::path> file) {
        dispatch::Queue::main()->async([handler, file = std::move(file)] {
            if (handler) {
                handler(file);
            }
        });
    };
    if (!asset || asset->mediaType() != AssetMediaType::Video) {
        answer(std::nullopt);
        return;
    }
    ImageRequestID request;
    {
        MutexLock lock(mutex_);
        request = nextRequest_++;
        pending_.insert(request);
    }
    // A cloud video comes down off the main thread, as a picture does.
    dispatch::Queue::global()->async(
            [self = shared_from_this(), asset, options, request, answer = std::move(answer)] {
                const auto refused = self->download(*asset, request, options.networkAccessAllowed,
                                                    options.progressHandler);
                {
                    MutexLock lock(self->mutex_);
                    self->pending_.erase(request);
                }
                answer(refused ? std::nullopt : std::optional(asset->file()));
            });
}

void ImageManager::requestContentEditingInput(
        const AssetPtr& asset, std::function<void(std::optional<std::filesystem::path>)> handler) {
    std::optional<std::filesystem::path> file;
    if (asset && asset->mediaType() == AssetMediaType::Image) {
        file = asset->file();
    }
    dispatch::Queue::main()->async([handler = std::move(handler), file] {
        if (handler) {
            handler(file);
        }
    });
}

ImageRequestID ImageManager::requestLivePhoto(
        const AssetPtr& asset,
        PixelSize targetSize,
        ImageContentMode contentMode,
        const LivePhotoRequestOptions& liveOptions,
        std::function<void(std::optional<LivePhoto>)> handler) {
    ImageRequestOptions options;
    options.deliveryMode = liveOptions.deliveryMode;
    options.networkAccessAllowed = liveOptions.networkAccessAllowed;
    options.progressHandler = liveOptions.progressHandler;
    const auto movie = asset ? asset->pairedVideo() : std::nullopt;
    const PixelSize size =
            asset ? PixelSize{double(asset->pixelWidth()), double(asset->pixelHeight())}
                  : PixelSize{};
    return requestImage(asset, targetSize, contentMode, options,
                        [handler = std::move(handler), movie, size](
                                std::shared_ptr<image::Bitmap> still, const ImageResultInfo&) {
                            if (!handler) {
                                return;
                            }
                            if (!still || !movie) {
                                handler(std::nullopt);
                                return;
                            }
                            handler(LivePhoto{std::move(still), *movie, size});
                        });
}

ImageManager::Counters ImageManager::counters() const {
    MutexLock lock(mutex_);
    return counters_;
}

}  // namespace pelmar::photos
