#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::photos {

namespace internal {
class DecodeBudget;
}  // namespace internal

// A size in pixels.
struct PixelSize {
    double width = 0;
    double height = 0;

    bool operator==(const PixelSize&) const = default;
};

enum class ImageContentMode : int { AspectFit = 0, AspectFill = 1 };

using ImageRequestID = int32_t;

inline constexpr ImageRequestID kInvalidImageRequestID = 0;

enum class ImageDeliveryMode : int { Opportunistic = 0, HighQualityFormat = 1, FastFormat = 2 };

// How far an asset's download from the cloud has come, in (0, 1]; called on the thread that
// downloads (a background queue, or the caller's for a synchronous request).
using ImageProgressHandler = std::function<void(double progress)>;

struct ImageRequestOptions {
    using DeliveryMode = ImageDeliveryMode;

    // May an asset held only by the cloud be downloaded? Without it such a request gives a null
    // image and kPhotosErrorNetworkAccessRequired.
    bool networkAccessAllowed = false;
    DeliveryMode deliveryMode = DeliveryMode::Opportunistic;
    // Decode on the caller's thread and call the handler before returning.
    bool synchronous = false;
    // Hears a cloud download's progress (none for assets on the device).
    ImageProgressHandler progressHandler;
};

struct LivePhotoRequestOptions {
    bool networkAccessAllowed = false;
    ImageDeliveryMode deliveryMode = ImageDeliveryMode::Opportunistic;
    ImageProgressHandler progressHandler;
};

// What a request for a video's file may do.
struct VideoRequestOptions {
    // May a video held only by the cloud be downloaded? Without it such a request gives no file.
    bool networkAccessAllowed = false;
    // Hears a cloud download's progress (none for videos on the device).
    ImageProgressHandler progressHandler;
};

struct ImageResultInfo {
    bool degraded = false;  // a quick, smaller version; the final one follows
    std::optional<Error> error;
};

// A live photo: the still and its movie, and the still's size in pixels.
struct LivePhoto {
    std::shared_ptr<image::Bitmap> still;
    std::filesystem::path movie;
    PixelSize size;
};

// ImageManager: pictures of library assets at the size a screen needs: decoded from the real
// files (JPEGs decoded scaled by the decoder, never at full size for a thumbnail; PNG and GIF
// decoded and reduced; movies give their first frame), fitted or filled into the target size
// without enlarging, and kept in a cost-limited cache. Opportunistic requests for large pictures
// get a quick degraded version first, then the final one. An asset held only by the cloud is
// downloaded first (when network access is allowed), reporting its progress, and stays on the
// device afterwards. Also hands out a video's file (its AV asset), a picture's file (its
// content-editing input) and live photos.
// Ownership: reference object from std::make_shared; defaultManager() is process-wide. Handlers
// are kept until they have run or their request is cancelled.
// Threads: thread-safe (one internal mutex, never held while decoding or calling out). Decoding
// runs on the global queue; handlers run on the main queue (synchronous requests: on the
// caller's thread). A cancelled request never calls its handler afterwards.
// Errors: a file that cannot be read gives a null image with an Error in kPhotosErrorDomain
//     (kPhotosErrorInvalidResource) in the info; a cloud asset without network access gives
//     kPhotosErrorNetworkAccessRequired.
// Limits: at most kCacheBytes of decoded pictures are cached; least recently used go first;
//     decodes running together stay within kDecodeBytes; at most as many decode as the machine
//     has cores (2 to 8).
class ImageManager : public std::enable_shared_from_this<ImageManager> {
public:
    static constexpr std::size_t kCacheBytes = 64 * 1024 * 1024;
    // Decodes under way at one time hold at most about this much memory (one larger picture is
    // decoded alone).
    static constexpr std::size_t kDecodeBytes = 96 * 1024 * 1024;
    // Opportunistic requests whose longer side is above this get a degraded delivery first.
    static constexpr double kDegradedThreshold = 512;
    // A cloud download arrives in pieces of this size, each reported to the progress handler.
    static constexpr std::size_t kCloudChunkBytes = 16 * 1024;

    using ResultHandler =
            std::function<void(std::shared_ptr<image::Bitmap> image, const ImageResultInfo& info)>;

    static const std::shared_ptr<ImageManager>& defaultManager();

    ImageManager();
    ~ImageManager();
    ImageManager(const ImageManager&) = delete;
    ImageManager& operator=(const ImageManager&) = delete;

    // Returns an identifier above 0.
    ImageRequestID requestImage(const AssetPtr& asset,
                                PixelSize targetSize,
                                ImageContentMode contentMode,
                                const ImageRequestOptions& options,
                                ResultHandler handler);

    void cancelImageRequest(ImageRequestID request);

    // Decodes into the cache ahead of requests with the same size and mode.
    void startCachingImages(const std::vector<AssetPtr>& assets,
                            PixelSize targetSize,
                            ImageContentMode contentMode);
    void stopCachingImagesForAllAssets();

    // The movie file of a video asset (none for other kinds), on the main queue. A video held
    // only by the cloud is downloaded first when the options allow it, and gives no file when
    // they do not.
    void requestAVAsset(const AssetPtr& asset,
                        const VideoRequestOptions& options,
                        std::function<void(std::optional<std::filesystem::path> file)> handler);
    // The same with network access allowed.
    void requestAVAsset(const AssetPtr& asset,
                        std::function<void(std::optional<std::filesystem::path> file)> handler);

    // The full-size file of a picture (none for other kinds), on the main queue.
    void requestContentEditingInput(
            const AssetPtr& asset,
            std::function<void(std::optional<std::filesystem::path> fullSizeImageFile)> handler);

    // The live photo of an asset with a paired movie (none otherwise), on the main queue.
    ImageRequestID requestLivePhoto(const AssetPtr& asset,
                                    PixelSize targetSize,
                                    ImageContentMode contentMode,
                                    const LivePhotoRequestOptions& options,
                                    std::function<void(std::optional<LivePhoto>)> handler);

    // For tests: requests made, cancels, caching starts and stops.
    struct Counters {
        int requests = 0;
        int cancels = 0;
        int cachingStarts = 0;
        int cachingStops = 0;
        int decodes = 0;
    };

    Counters counters() const;

private:
    struct Key {
        std::string identifier;
        int64_t revision = 0;
        int width = 0;
        int height = 0;
        ImageContentMode mode = ImageContentMode::AspectFit;
        bool degraded = false;

        auto operator<=>(const Key&) const = default;
    };

    Key keyFor(const Asset& asset, PixelSize size, ImageContentMode mode, bool degraded) const;
    std::shared_ptr<image::Bitmap> cached(const Key& key);
    void store(const Key& key, const std::shared_ptr<image::Bitmap>& bitmap);
    // Decodes (or finds in the cache) the picture for `key`.
    std::pair<std::shared_ptr<image::Bitmap>, std::optional<Error>> produce(const Asset& asset,
                                                                            const Key& key);
    bool live(ImageRequestID request);
    static std::string downloadKey(const Asset& asset);
    // Brings a cloud asset's file onto the device for `request`, reporting progress; an error
    // when it may not or the request went away. Assets on the device need nothing.
    std::optional<Error> download(const Asset& asset,
                                  ImageRequestID request,
                                  bool networkAccessAllowed,
                                  const ImageProgressHandler& progress);
    void deliver(ImageRequestID request,
                 const ResultHandler& handler,
                 std::shared_ptr<image::Bitmap> bitmap,
                 ImageResultInfo info,
                 bool last);

    // Runs `work` on the global queue as soon as fewer than maxDecoders() of this manager's
    // jobs run; the rest wait here in order, holding no thread.
    void schedule(std::function<void()> work);
    void runScheduled(std::function<void()> work);

    const std::unique_ptr<internal::DecodeBudget> budget_;
    mutable Mutex mutex_;
    ImageRequestID nextRequest_ PELMAR_GUARDED_BY(mutex_) = 1;
    std::set<ImageRequestID> pending_ PELMAR_GUARDED_BY(mutex_);
    // Cloud assets downloaded so far (downloadKey()): an identifier a new library gives again
    // names another file, which is still in the cloud.
    std::set<std::string> downloaded_ PELMAR_GUARDED_BY(mutex_);
    std::map<Key, std::pair<std::shared_ptr<image::Bitmap>, std::list<Key>::iterator>> cache_
            PELMAR_GUARDED_BY(mutex_);
    std::list<Key> recency_ PELMAR_GUARDED_BY(mutex_);  // most recent first
    std::size_t cacheBytes_ PELMAR_GUARDED_BY(mutex_) = 0;
    int64_t cachingGeneration_ PELMAR_GUARDED_BY(mutex_) = 0;
    Counters counters_ PELMAR_GUARDED_BY(mutex_);
    std::deque<std::function<void()>> waiting_ PELMAR_GUARDED_BY(mutex_);
    int running_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::photos
