#include "pelmar/platform/av/PlayerItem.h"

#include <cmath>
#include <limits>

#include "pelmar/platform/av/PlayerItemLoader.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::av {

std::shared_ptr<PlayerItem> PlayerItem::create(std::shared_ptr<Asset> asset) {
    return std::make_shared<PlayerItem>(Key{}, std::move(asset));
}

std::shared_ptr<PlayerItem> PlayerItem::create(std::string url) {
    return create(URLAsset::create(std::move(url)));
}

PlayerItem::PlayerItem(Key, std::shared_ptr<Asset> asset) : asset_(std::move(asset)) {}

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
    // A remote asset not loaded yet probes the bytes of the item's own fetch, which starts now.
    const auto remote = std::dynamic_pointer_cast<URLAsset>(asset_);
    if (remote && remote->isRemote() && asset_->status() == Asset::Status::Unknown) {
        std::shared_ptr<internal::ByteCache> cache;
        {
            MutexLock lock(mutex_);
            cache = makeCacheLocked();
        }
        if (cache) {
            remote->readThrough(cache);
            startFetching(remote->location());
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

void PlayerItem::finishLoading() {
    Status result = Status::ReadyToPlay;
    const auto remote = std::dynamic_pointer_cast<URLAsset>(asset_);
    const bool fetch = remote && remote->isRemote();
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
                fetchURL_ = remote->location();
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
        int64_t received = 0;
        int64_t expected = -1;
        bool finished = false;
        {
            MutexLock lock(mutex_);
            received = received_;
            expected = expected_;
            finished = fetched_;
        }
        applyProgress(received, expected, finished);
    }
}

void PlayerItem::startBuffering() {
    std::string url;
    {
        MutexLock lock(mutex_);
        bufferingWanted_ = true;
        if (fetchURL_.empty() || loader_) {
            return;
        }
        url = std::move(fetchURL_);
        fetchURL_.clear();
    }
    startFetching(url);
}

std::shared_ptr<internal::ByteCache> PlayerItem::makeCacheLocked() {
    if (!cache_) {
        cache_ = internal::ByteCache::create(foundation::Sandbox::temporaryDirectory().string());
    }
    return cache_;
}

std::shared_ptr<internal::ByteCache> PlayerItem::fetchedBytes() const {
    MutexLock lock(mutex_);
    return cache_;
}

void PlayerItem::startFetching(const std::string& url) {
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
                self->applyProgress(progress.received, progress.expected, progress.finished);
            }
        });
    };
    auto loader = PlayerItemLoader::start(url, std::move(handler), std::move(cache));
    MutexLock lock(mutex_);
    loader_ = std::move(loader);
}

void PlayerItem::applyProgress(int64_t received, int64_t expected, bool finished) {
    media::Time end;
    {
        MutexLock lock(mutex_);
        received_ = received;
        expected_ = expected;
        fetched_ = finished;
        if (std::isinf(loadedSeconds_) || !duration_.isNumeric()) {
            // Before the item is ready its duration is unknown: the count waits for it.
            return;
        }
        // The share of the bytes that has arrived, as a share of the duration.
        const double total = duration_.seconds();
        double seconds = finished       ? total
                         : expected > 0 ? total * static_cast<double>(received)
                                                  / static_cast<double>(expected)
                                        : 0.0;
        seconds = std::min(std::max(seconds, loadedSeconds_), total);
        if (seconds == loadedSeconds_ && !finished) {
            return;
        }
        loadedSeconds_ = finished ? std::numeric_limits<double>::infinity() : seconds;
        if (finished) {
            loader_.reset();
        }
        end = finished ? duration_ : media::Time::makeWithSeconds(seconds, duration_.timescale);
    }
    loadedTimeRanges.set({TimeRange::make(media::Time::zero(), end)});
}

}  // namespace pelmar::av
