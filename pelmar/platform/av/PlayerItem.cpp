#include "pelmar/platform/av/PlayerItem.h"

#include <cmath>
#include <limits>

#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/PlayerItemLoader.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::av {

namespace {

bool isHttp(const std::string& url) {
    return url.starts_with("http://") || url.starts_with("https://");
}

// The one http(s) movie a loaded asset plays from (a remote URLAsset, or a composition whose
// pictures all come from one remote movie, as a subtitled video's); empty otherwise.
std::string remoteSourceOf(const Asset& asset) {
    if (const auto* file = dynamic_cast<const URLAsset*>(&asset)) {
        return file->isRemote() ? file->location() : std::string();
    }
    const auto* composition = dynamic_cast<const MutableComposition*>(&asset);
    if (composition == nullptr) {
        return {};
    }
    std::string source;
    for (const auto& track : composition->compositionTracks()) {
        if (track->mediaType() == TrackMediaType::Text) {
            continue;
        }
        for (const auto& segment : track->segments()) {
            const std::string& url = segment.source ? segment.source->sourceURL() : source;
            if (!isHttp(url) || (!source.empty() && url != source)) {
                return {};
            }
            source = url;
        }
    }
    return source;
}

}  // namespace

std::shared_ptr<PlayerItem> PlayerItem::create(std::shared_ptr<Asset> asset) {
    return std::make_shared<PlayerItem>(Key{}, std::move(asset));
}

std::shared_ptr<PlayerItem> PlayerItem::create(std::string url) {
    return create(URLAsset::create(std::move(url)));
}

PlayerItem::PlayerItem(Key, std::shared_ptr<Asset> asset)
    : asset_(std::move(asset)), maxCacheBytes_(internal::ByteCache::kDefaultMaxBytes) {}

void PlayerItem::setMaximumCacheBytes(int64_t bytes) {
    MutexLock lock(mutex_);
    maxCacheBytes_ = bytes > 0 ? bytes : internal::ByteCache::kDefaultMaxBytes;
}

int64_t PlayerItem::maximumCacheBytes() const {
    MutexLock lock(mutex_);
    return maxCacheBytes_;
}

std::optional<Error> PlayerItem::error() const {
    MutexLock lock(mutex_);
    return error_;
}

media::Time PlayerItem::duration() const {
    MutexLock lock(mutex_);
    return duration_;
}

void PlayerItem::load() {
    {
        MutexLock lock(mutex_);
        if (loading_) {
            return;
        }
        loading_ = true;
    }
    if (!asset_) {
        {
            MutexLock lock(mutex_);
            error_ = Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable, "no asset"};
        }
        dispatch::Queue::main()->async(
                [self = shared_from_this()] { self->status.set(Status::Failed); });
        return;
    }
    // A remote asset not loaded yet probes the bytes of the item's own fetch, which starts now
    // with what the probe reads (everything once a player has made the item current).
    const auto remote = std::dynamic_pointer_cast<URLAsset>(asset_);
    if (remote && remote->isRemote() && asset_->status() == Asset::Status::Unknown) {
        std::shared_ptr<internal::ByteCache> cache;
        bool whole = false;
        {
            MutexLock lock(mutex_);
            cache = makeCacheLocked();
            whole = bufferingWanted_;
        }
        if (cache) {
            remote->readThrough(cache);
            startFetching(remote->location(), whole);
        }
    }
    std::weak_ptr<PlayerItem> weak = weak_from_this();
    asset_->loadValuesAsynchronously([weak] {
        if (auto self = weak.lock()) {
            dispatch::Queue::main()->async([self] { self->finishLoading(); });
        }
    });
}

double PlayerItem::loadedSeconds() const {
    MutexLock lock(mutex_);
    return loadedSeconds_;
}

double PlayerItem::loadedSecondsFrom(double seconds) const {
    MutexLock lock(mutex_);
    if (std::isinf(loadedSeconds_) || seconds < loadedSeconds_) {
        return loadedSeconds_;
    }
    // The bytes of the key frame a seek decodes from lie before the time sought, as a share of
    // the file, but not by much.
    const double slack = duration_.isNumeric() ? std::max(1.0, duration_.seconds() * 0.02) : 1.0;
    for (const auto& range : loaded_) {
        if (range.start.seconds() - slack <= seconds && seconds < range.end().seconds()) {
            return range.end().seconds();
        }
    }
    return seconds;
}

void PlayerItem::finishLoading() {
    Status result = Status::ReadyToPlay;
    const std::string remoteSource = remoteSourceOf(*asset_);
    const bool fetch = !remoteSource.empty();
    std::vector<TimeRange> loaded;
    bool fetchNow = false;
    bool applyNow = false;
    {
        MutexLock lock(mutex_);
        if (asset_->isPlayable()) {
            duration_ = asset_->duration();
            const bool fetching = fetch && duration_.isNumeric();
            if (fetching && loader_) {
                // Fetching since load(): what has arrived so far counts now.
                applyNow = true;
            } else if (fetching) {
                fetchURL_ = remoteSource;
                fetchNow = bufferingWanted_;
            } else {
                loadedSeconds_ = std::numeric_limits<double>::infinity();
                loaded.push_back(TimeRange::make(media::Time::zero(), duration_));
            }
        } else {
            error_ = asset_->error().value_or(Error{std::string(kAssetErrorDomain),
                                                    kAssetErrorUnparsable,
                                                    "nothing to play: no audio or video track"});
            result = Status::Failed;
        }
    }
    if (!loaded.empty()) {
        loadedTimeRanges.set(loaded);
    }
    status.set(result);
    if (fetchNow) {
        startBuffering();
    }
    if (applyNow) {
        PlayerItemLoader::Progress progress;
        {
            MutexLock lock(mutex_);
            progress = progress_;
        }
        applyProgress(progress);
    }
}

void PlayerItem::startBuffering() {
    std::string url;
    {
        MutexLock lock(mutex_);
        bufferingWanted_ = true;
        if (loader_) {
            // Fetching what the probe read since load(): now everything.
            loader_->fetchWhole();
            return;
        }
        if (fetchURL_.empty()) {
            return;
        }
        url = std::move(fetchURL_);
        fetchURL_.clear();
    }
    startFetching(url, true);
}

std::shared_ptr<internal::ByteCache> PlayerItem::makeCacheLocked() {
    if (!cache_) {
        cache_ = internal::ByteCache::create(foundation::Sandbox::temporaryDirectory().string(),
                                             maxCacheBytes_);
    }
    return cache_;
}

std::shared_ptr<internal::ByteCache> PlayerItem::fetchedBytes() const {
    MutexLock lock(mutex_);
    return cache_;
}

std::shared_ptr<internal::ByteCache> PlayerItem::fetchedBytesOf(const std::string& location) const {
    MutexLock lock(mutex_);
    return cache_ && location == fetchedURL_ ? cache_ : nullptr;
}

void PlayerItem::startFetching(const std::string& url, bool whole) {
    std::shared_ptr<internal::ByteCache> cache;
    {
        MutexLock lock(mutex_);
        cache = makeCacheLocked();
    }
    std::weak_ptr<PlayerItem> weak = weak_from_this();
    auto handler = [weak](const PlayerItemLoader::Progress& progress) {
        if (!progress.error.empty()) {
            // What has loaded stays; playback stalls at its end.
            return;
        }
        dispatch::Queue::main()->async([weak, progress] {
            if (auto self = weak.lock()) {
                self->applyProgress(progress);
            }
        });
    };
    auto loader = PlayerItemLoader::start(url, std::move(handler), std::move(cache), whole);
    bool wantedMeanwhile = false;
    {
        MutexLock lock(mutex_);
        fetchedURL_ = url;
        loader_ = std::move(loader);
        wantedMeanwhile = bufferingWanted_ && !whole;
        if (wantedMeanwhile) {
            loader_->fetchWhole();
        }
    }
}

void PlayerItem::applyProgress(const PlayerItemLoader::Progress& progress) {
    std::vector<TimeRange> ranges;
    std::shared_ptr<PlayerItemLoader> finishedLoader;
    {
        MutexLock lock(mutex_);
        progress_ = progress;
        if (std::isinf(loadedSeconds_) || !duration_.isNumeric()) {
            // Before the item is ready its duration is unknown: the count waits for it.
            return;
        }
        const double total = duration_.seconds();
        const int32_t timescale = duration_.timescale;
        const auto timeAt = [&](int64_t byte) {
            return progress.expected > 0
                           ? std::min(total, total * static_cast<double>(byte)
                                                     / static_cast<double>(progress.expected))
                           : 0.0;
        };
        // Every byte there is has arrived: told once, with the last of them.
        const bool whole = progress.finished
                           || (progress.expected > 0 && progress.contiguous >= progress.expected);
        if (whole) {
            loadedSeconds_ = std::numeric_limits<double>::infinity();
            loaded_ = {TimeRange::make(media::Time::zero(), duration_)};
            finishedLoader = std::move(loader_);
        } else {
            // Each stretch of bytes as the same share of the duration; the one from the start
            // only ever grows.
            std::vector<TimeRange> now;
            const double fromStart = std::max(timeAt(progress.contiguous), loadedSeconds_);
            if (fromStart > 0) {
                now.push_back(TimeRange::make(media::Time::zero(),
                                              media::Time::makeWithSeconds(fromStart, timescale)));
            }
            for (const auto& [from, to] : progress.stretches) {
                const double start = timeAt(from);
                const double end = timeAt(to);
                if (from == 0 || end <= fromStart || end <= start) {
                    continue;
                }
                const auto begin =
                        media::Time::makeWithSeconds(std::max(start, fromStart), timescale);
                now.push_back(TimeRange::make(
                        begin, media::Time::makeWithSeconds(end, timescale) - begin));
            }
            if (now == loaded_) {
                return;
            }
            loadedSeconds_ = fromStart;
            loaded_ = std::move(now);
        }
        ranges = loaded_;
    }
    loadedTimeRanges.set(ranges);
}

}  // namespace pelmar::av
