#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"

#include <unistd.h>

#include <algorithm>
#include <limits>

#include "pelmar/imageloader/PelmarGIFAnimatedImage.h"
#include "pelmar/imageloader/PelmarImageDetectors.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/dispatch/Clock.h"

namespace pelmar {

uint64_t PelmarCachedAnimatedImage::systemPhysicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 1ULL << 30;
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

std::shared_ptr<PelmarCachedAnimatedImage> PelmarCachedAnimatedImage::createWithAnimatedImageData(
        std::string data, uint64_t physicalMemory) {
    if (!pelmar_isAnimatedGIF(data)) {
        return nullptr;
    }
    // A GIF that only looks animated but does not decode gives no image at all, so that the
    // caller falls back to its still path.
    return createWithAnimatedImage(PelmarGIFAnimatedImage::create(std::move(data)), physicalMemory);
}

std::shared_ptr<PelmarCachedAnimatedImage> PelmarCachedAnimatedImage::createWithAnimatedImage(
        std::shared_ptr<PelmarAnimatedImage> animatedImage, uint64_t physicalMemory) {
    if (!animatedImage) {
        return nullptr;
    }
    auto image = std::make_shared<PelmarCachedAnimatedImage>(
            Private{}, std::move(animatedImage),
            physicalMemory != 0 ? physicalMemory : systemPhysicalMemory());
    image->start();
    return image;
}

PelmarCachedAnimatedImage::PelmarCachedAnimatedImage(
        Private, std::shared_ptr<PelmarAnimatedImage> animatedImage, uint64_t physicalMemory)
    : animatedImage_(std::move(animatedImage)),
      physicalMemory_(physicalMemory),
      operationQueue_(PelmarOperationQueue::create(4)),
      cachingQueue_(dispatch::Queue::serial("Caching Queue")),
      lastMemoryWarning_(-std::numeric_limits<double>::infinity()) {}

PelmarCachedAnimatedImage::~PelmarCachedAnimatedImage() = default;

void PelmarCachedAnimatedImage::start() {
    std::weak_ptr<PelmarCachedAnimatedImage> weak = weak_from_this();
    memoryWarning_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(app::AppLifecycle::kDidReceiveMemoryWarningNotification), [weak] {
                if (auto self = weak.lock()) {
                    self->didReceiveMemoryWarning();
                }
            });
    dispatch::Queue::global()->async([weak] {
        if (auto self = weak.lock()) {
            self->imageAtIndex(0);
        }
    });
}

PelmarImage PelmarCachedAnimatedImage::imageAtIndex(std::size_t index) {
    if (index >= frameCount()) {
        return nullptr;
    }
    const std::size_t window = framesToCache();
    PelmarImage frame;
    {
        PelmarRemoteLock::Hold hold(lock_);
        cacheCleared_ = false;
        if (auto it = frameCache_.find(index); it != frameCache_.end()) {
            frame = it->second;
        }
        playHead_ = index;
        if (!frame && window != 0) {
            notifyOnReady_ = true;
        }
    }
    if (!frame && window == 0) {
        return animatedImage_->imageAtIndex(index, this);
    }
    std::weak_ptr<PelmarCachedAnimatedImage> weak = weak_from_this();
    dispatch::Queue::global()->async([weak] {
        if (auto self = weak.lock()) {
            self->updateCache();
        }
    });
    return frame;
}

PelmarImage PelmarCachedAnimatedImage::cachedFrameImageAtIndex(std::size_t index) {
    PelmarRemoteLock::Hold hold(lock_);
    auto it = frameCache_.find(index);
    return it != frameCache_.end() ? it->second : nullptr;
}

std::size_t PelmarCachedAnimatedImage::framesToCache() const {
    const uint64_t memory = physicalMemory_;
    const uint64_t frameBytes = animatedImage_->bytesPerFrame();
    const uint64_t frames = animatedImage_->frameCount();
    std::size_t result = 0;
    if (frames * frameBytes < memory / 250) {
        result = frames;
    } else if (frameBytes < memory / 1000) {
        result = 4;
    } else if (frameBytes < memory / 500) {
        result = 2;
    }
    const double since = dispatch::clock().now() - lastMemoryWarning_.load();
    if (causingWarnings_.load() || since < 1) {
        return 0;
    }
    if (since < 5) {
        return std::min<std::size_t>(result, 2);
    }
    if (since < kWarningWindowSeconds) {
        return std::min<std::size_t>(result, 4);
    }
    return result;
}

std::pair<PelmarCachedAnimatedImage::Range, PelmarCachedAnimatedImage::Range>
PelmarCachedAnimatedImage::getKeepRanges() {
    const std::size_t count = frameCount();
    // A window longer than the animation would wrap onto itself, past the last frame.
    const std::size_t window = std::min(framesToCache(), count);
    PelmarRemoteLock::Hold hold(lock_);
    Range keep{playHead_, window};
    Range beginning;
    if (playHead_ + window > count) {
        beginning = {0, playHead_ + window - count};
        keep.length = count - playHead_;
    }
    return {keep, beginning};
}

void PelmarCachedAnimatedImage::updateCache() {
    std::weak_ptr<PelmarCachedAnimatedImage> weak = weak_from_this();
    if (framesToCache() != 0) {
        operationQueue_->scheduleOperation([weak] {
            if (auto self = weak.lock()) {
                self->updateCacheOnQueue();
            }
        });
    }
    operationQueue_->scheduleOperation([weak] {
        if (auto self = weak.lock()) {
            self->cleanupFrames();
        }
    });
}

void PelmarCachedAnimatedImage::updateCacheOnQueue() {
    const auto [keep, beginning] = getKeepRanges();
    PelmarRemoteLock::Hold hold(lock_);
    for (std::size_t i = keep.location; i < keep.location + keep.length; ++i) {
        l_cacheFrame(i);
    }
    if (beginning.location != kNotFound) {
        for (std::size_t i = beginning.location; i < beginning.location + beginning.length; ++i) {
            l_cacheFrame(i);
        }
    }
}

void PelmarCachedAnimatedImage::l_cacheFrame(std::size_t index) {
    if (cachedOrCachingFrames_.count(index) != 0 || failedFrames_.count(index) != 0
        || cacheCleared_) {
        return;
    }
    cachedOrCachingFrames_.insert(index);
    ++frameRenderCount_;
    std::weak_ptr<PelmarCachedAnimatedImage> weak = weak_from_this();
    cachingQueue_->async([weak, index] {
        if (auto self = weak.lock()) {
            self->cacheWithFrameIndex(index);
        }
    });
}

void PelmarCachedAnimatedImage::cacheWithFrameIndex(std::size_t index) {
    const PelmarImage image = animatedImage_->imageAtIndex(index, this);
    CoverImageReadyCallback coverCallback;
    PelmarImage cover;
    PlaybackReadyCallback readyCallback;
    {
        PelmarRemoteLock::Hold hold(lock_);
        if (!image) {
            // Never retried, and not counted as waiting, so that playback goes on without it.
            failedFrames_.insert(index);
            cachedOrCachingFrames_.erase(index);
        } else if (cachedOrCachingFrames_.count(index) != 0 && !cacheCleared_) {
            // A frame cleared or moved out of the window while it was decoded is not kept.
            l_store(index, image);
            if (index == 0 && l_updateCoverImage(image)) {
                coverCallback = coverImageReadyCallback_;
                cover = coverImage_;
            }
        }
        --frameRenderCount_;
        if (frameRenderCount_ == 0 && notifyOnReady_) {
            notifyOnReady_ = false;
            readyCallback = playbackReadyCallback_;
        }
    }
    if (readyCallback) {
        operationQueue_->scheduleOperation(std::move(readyCallback));
    }
    if (coverCallback) {
        coverCallback(cover);
    }
}

void PelmarCachedAnimatedImage::l_store(std::size_t index, const PelmarImage& image) {
    auto& slot = frameCache_[index];
    if (slot) {
        frameCacheBytes_ -= slot->byteCount();
    }
    slot = image;
    frameCacheBytes_ += image->byteCount();
    peakFrameCacheBytes_ = std::max(peakFrameCacheBytes_, frameCacheBytes_);
}

void PelmarCachedAnimatedImage::l_drop(std::size_t index) {
    cachedOrCachingFrames_.erase(index);
    if (auto it = frameCache_.find(index); it != frameCache_.end()) {
        frameCacheBytes_ -= it->second->byteCount();
        frameCache_.erase(it);
    }
}

bool PelmarCachedAnimatedImage::l_updateCoverImage(const PelmarImage& image) {
    if (!image) {
        coverImage_ = nullptr;
        return false;
    }
    const bool isNew = !coverImage_;
    coverImage_ = image;
    return isNew;
}

PelmarImage PelmarCachedAnimatedImage::coverImage() {
    CoverImageReadyCallback callback;
    PelmarImage cover;
    {
        PelmarRemoteLock::Hold hold(lock_);
        if (!coverImage_ && l_updateCoverImage(animatedImage_->imageAtIndex(0, nullptr))) {
            callback = coverImageReadyCallback_;
        }
        cover = coverImage_;
    }
    if (callback) {
        callback(cover);
    }
    return cover;
}

bool PelmarCachedAnimatedImage::coverImageReady() {
    CoverImageReadyCallback callback;
    PelmarImage cover;
    {
        PelmarRemoteLock::Hold hold(lock_);
        if (!coverImage_) {
            if (auto it = frameCache_.find(0);
                it != frameCache_.end() && l_updateCoverImage(it->second)) {
                callback = coverImageReadyCallback_;
            }
        }
        cover = coverImage_;
    }
    if (callback) {
        callback(cover);
    }
    return cover != nullptr;
}

bool PelmarCachedAnimatedImage::playbackReady() {
    PelmarRemoteLock::Hold hold(lock_);
    if (!playbackReady_) {
        playbackReady_ = frameRenderCount_ == 0;
    }
    return playbackReady_;
}

void PelmarCachedAnimatedImage::cleanupFrames() {
    const auto [keep, beginning] = getKeepRanges();
    const auto inRange = [](const Range& range, std::size_t i) {
        return range.location != kNotFound && i >= range.location
               && i < range.location + range.length;
    };
    PelmarRemoteLock::Hold hold(lock_);
    std::vector<std::size_t> gone;
    for (std::size_t i : cachedOrCachingFrames_) {
        if (!inRange(keep, i) && !inRange(beginning, i)) {
            gone.push_back(i);
        }
    }
    for (std::size_t i : gone) {
        l_drop(i);
    }
}

void PelmarCachedAnimatedImage::didReceiveMemoryWarning() {
    const double now = dispatch::clock().now();
    if (now - lastMemoryWarning_.load() < kRepeatedWarningSeconds) {
        causingWarnings_.store(true);
    }
    lastMemoryWarning_.store(now);
    cleanupFrames();
}

void PelmarCachedAnimatedImage::clearAnimatedImageCache() {
    std::weak_ptr<PelmarCachedAnimatedImage> weak = weak_from_this();
    dispatch::Queue::global()->async([weak] {
        if (auto self = weak.lock()) {
            PelmarRemoteLock::Hold hold(self->lock_);
            self->cacheCleared_ = true;
            self->coverImage_ = nullptr;
            self->frameCache_.clear();
            self->cachedOrCachingFrames_.clear();
            self->frameCacheBytes_ = 0;
        }
    });
}

void PelmarCachedAnimatedImage::setCoverImageReadyCallback(CoverImageReadyCallback callback) {
    PelmarRemoteLock::Hold hold(lock_);
    coverImageReadyCallback_ = std::move(callback);
}

PelmarCachedAnimatedImage::CoverImageReadyCallback
PelmarCachedAnimatedImage::coverImageReadyCallback() {
    PelmarRemoteLock::Hold hold(lock_);
    return coverImageReadyCallback_;
}

void PelmarCachedAnimatedImage::setPlaybackReadyCallback(PlaybackReadyCallback callback) {
    PelmarRemoteLock::Hold hold(lock_);
    playbackReadyCallback_ = std::move(callback);
}

PelmarCachedAnimatedImage::PlaybackReadyCallback
PelmarCachedAnimatedImage::playbackReadyCallback() {
    PelmarRemoteLock::Hold hold(lock_);
    return playbackReadyCallback_;
}

bool PelmarCachedAnimatedImage::cacheCleared() {
    PelmarRemoteLock::Hold hold(lock_);
    return cacheCleared_;
}

bool PelmarCachedAnimatedImage::frameFailedAtIndex(std::size_t index) {
    PelmarRemoteLock::Hold hold(lock_);
    return failedFrames_.count(index) != 0;
}

uint64_t PelmarCachedAnimatedImage::frameCacheBytes() {
    PelmarRemoteLock::Hold hold(lock_);
    return frameCacheBytes_;
}

uint64_t PelmarCachedAnimatedImage::peakFrameCacheBytes() {
    PelmarRemoteLock::Hold hold(lock_);
    return peakFrameCacheBytes_;
}

std::set<std::size_t> PelmarCachedAnimatedImage::cachedFrameIndexes() {
    PelmarRemoteLock::Hold hold(lock_);
    std::set<std::size_t> indexes;
    for (const auto& [i, frame] : frameCache_) {
        indexes.insert(i);
    }
    return indexes;
}

}  // namespace pelmar
