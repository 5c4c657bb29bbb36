#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "pelmar/imageloader/PelmarAnimatedImage.h"
#include "pelmar/imageloader/PelmarOperationQueue.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar {

// PelmarCachedAnimatedImage: plays an animated image from a window of frames decoded ahead of the
// play head. The window holds every frame when the whole animation needs under 1/250 of physical
// memory, else 4, 2 or 0 frames by the size of one frame (under 1/1000, 1/500 of memory); it
// wraps past the last frame to the first ones. A memory warning shrinks it (0 for 1 s, at most 2
// for 5 s, at most 4 for 10 s) and a second warning within 15 s turns caching off for good, after
// which frames are decoded on request. Also provides the cover image (frame 0) and tells when
// playback can start.
// Ownership: made by the create functions and held by shared_ptr; owns its animated image, its
//     operation queue (4 at once) and its serial "Caching Queue"; every block it schedules holds
//     it weakly and does nothing once it is gone.
// Threads: thread-safe. One lock ("PelmarCachedAnimatedImage Lock", a leaf except that it is
//     held while coverImage() decodes frame 0) guards the state; no callback runs under it. The
//     cover callback runs on the thread that made the cover (a caller of coverImage() or
//     coverImageReady(), or "Caching Queue"); the playback-ready callback runs as an operation of
//     the image's operation queue.
// Errors: the create functions answer null for data that is not a decodable animated GIF. A frame
//     that cannot be decoded is never stored: it is remembered as failed (frameFailedAtIndex) and
//     not decoded again, and it does not hold back readiness.
class PelmarCachedAnimatedImage : public PelmarAlternativeRepresentation,
                                  public PelmarCachedAnimatedFrameProvider,
                                  public std::enable_shared_from_this<PelmarCachedAnimatedImage> {
    struct Private {};

public:
    using CoverImageReadyCallback = std::function<void(const PelmarImage& coverImage)>;
    using PlaybackReadyCallback = std::function<void()>;

    // An index range; location kNotFound means no range.
    struct Range {
        std::size_t location = kNotFound;
        std::size_t length = 0;
    };

    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

    // Seconds a memory warning keeps shrinking the window, and the span within which a second
    // warning turns caching off.
    static constexpr double kWarningWindowSeconds = 10;
    static constexpr double kRepeatedWarningSeconds = 15;

    // The machine's physical memory in bytes.
    static uint64_t systemPhysicalMemory();

    // Null unless `data` is an animated GIF that decodes. `physicalMemory` (0: the machine's)
    // sizes the window.
    static std::shared_ptr<PelmarCachedAnimatedImage> createWithAnimatedImageData(
            std::string data, uint64_t physicalMemory = 0);

    // Null for a null image. Starts caching from frame 0 at once.
    static std::shared_ptr<PelmarCachedAnimatedImage> createWithAnimatedImage(
            std::shared_ptr<PelmarAnimatedImage> animatedImage, uint64_t physicalMemory = 0);

    PelmarCachedAnimatedImage(Private,
                              std::shared_ptr<PelmarAnimatedImage> animatedImage,
                              uint64_t physicalMemory);

    ~PelmarCachedAnimatedImage() override;

    PelmarCachedAnimatedImage(const PelmarCachedAnimatedImage&) = delete;
    PelmarCachedAnimatedImage& operator=(const PelmarCachedAnimatedImage&) = delete;

    // The frame when it is decoded, else null (caching on) or a frame decoded now (caching off).
    // Moves the play head to `index` and updates the window in the background. An index past the
    // last frame answers null and changes nothing.
    PelmarImage imageAtIndex(std::size_t index);

    PelmarImage cachedFrameImageAtIndex(std::size_t index) override;

    // Frame 0, decoded now (under the lock) when not yet known.
    PelmarImage coverImage();

    // Whether a cover exists, making it from a cached frame 0 when possible.
    bool coverImageReady();

    // Latches true the first time no frame is waiting to be decoded.
    bool playbackReady();

    // Empties the frame cache and drops the cover, in the background; until the next
    // imageAtIndex() nothing is decoded ahead.
    void clearAnimatedImageCache();

    // Frames to keep decoded now, by memory and recent warnings.
    std::size_t framesToCache() const;

    // The window from the play head, and its continuation from frame 0 when it wraps.
    std::pair<Range, Range> getKeepRanges();

    void setCoverImageReadyCallback(CoverImageReadyCallback callback);
    CoverImageReadyCallback coverImageReadyCallback();
    void setPlaybackReadyCallback(PlaybackReadyCallback callback);
    PlaybackReadyCallback playbackReadyCallback();

    // Whether clearAnimatedImageCache() has taken effect and no imageAtIndex() came since.
    bool cacheCleared();

    // True once a decoding of `index` failed.
    bool frameFailedAtIndex(std::size_t index);

    bool cachingFramesCausingMemoryWarnings() const { return causingWarnings_.load(); }

    // Clock seconds (dispatch::clock()) of the last memory warning; -infinity before any.
    double lastMemoryWarning() const { return lastMemoryWarning_.load(); }

    // What the frame cache holds now, and the most it ever held, in bitmap bytes.
    uint64_t frameCacheBytes();
    uint64_t peakFrameCacheBytes();
    std::set<std::size_t> cachedFrameIndexes();

    const std::shared_ptr<PelmarAnimatedImage>& animatedImage() const { return animatedImage_; }

    // Forwarded to the animated image.
    const std::string& data() const { return animatedImage_->data(); }

    double totalDuration() const { return animatedImage_->totalDuration(); }

    uint64_t frameInterval() const { return animatedImage_->frameInterval(); }

    uint64_t loopCount() const { return animatedImage_->loopCount(); }

    std::size_t frameCount() const { return animatedImage_->frameCount(); }

    std::optional<Error> error() const { return animatedImage_->error(); }

    double durationAtIndex(std::size_t index) const {
        return animatedImage_->durationAtIndex(index);
    }

    // Width and height in pixels.
    std::pair<double, double> size() const {
        return {static_cast<double>(animatedImage_->width()),
                static_cast<double>(animatedImage_->height())};
    }

private:
    void start();
    void updateCache();
    void updateCacheOnQueue();
    void l_cacheFrame(std::size_t index) PELMAR_REQUIRES(lock_);
    void cacheWithFrameIndex(std::size_t index);
    // True when the cover is new.
    bool l_updateCoverImage(const PelmarImage& image) PELMAR_REQUIRES(lock_);
    void l_store(std::size_t index, const PelmarImage& image) PELMAR_REQUIRES(lock_);
    void l_drop(std::size_t index) PELMAR_REQUIRES(lock_);
    void cleanupFrames();
    void didReceiveMemoryWarning();

    const std::shared_ptr<PelmarAnimatedImage> animatedImage_;
    const uint64_t physicalMemory_;
    const std::shared_ptr<PelmarOperationQueue> operationQueue_;
    const std::shared_ptr<dispatch::Queue> cachingQueue_;
    foundation::NotificationCenter::Token memoryWarning_;

    std::atomic<bool> causingWarnings_{false};
    std::atomic<double> lastMemoryWarning_;

    PelmarRemoteLock lock_{"PelmarCachedAnimatedImage Lock"};
    PelmarImage coverImage_ PELMAR_GUARDED_BY(lock_);
    CoverImageReadyCallback coverImageReadyCallback_ PELMAR_GUARDED_BY(lock_);
    PlaybackReadyCallback playbackReadyCallback_ PELMAR_GUARDED_BY(lock_);
    std::map<std::size_t, PelmarImage> frameCache_ PELMAR_GUARDED_BY(lock_);
    int64_t frameRenderCount_ PELMAR_GUARDED_BY(lock_) = 0;
    bool playbackReady_ PELMAR_GUARDED_BY(lock_) = false;
    std::size_t playHead_ PELMAR_GUARDED_BY(lock_) = 0;
    bool notifyOnReady_ PELMAR_GUARDED_BY(lock_) = true;
    std::set<std::size_t> cachedOrCachingFrames_ PELMAR_GUARDED_BY(lock_);
    std::set<std::size_t> failedFrames_ PELMAR_GUARDED_BY(lock_);
    bool cacheCleared_ PELMAR_GUARDED_BY(lock_) = false;
    uint64_t frameCacheBytes_ PELMAR_GUARDED_BY(lock_) = 0;
    uint64_t peakFrameCacheBytes_ PELMAR_GUARDED_BY(lock_) = 0;
};

}  // namespace pelmar
