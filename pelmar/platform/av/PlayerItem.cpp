#include "pelmar/platform/av/PlayerItem.h"

#include <cmath>
#include <limits>

#include "pelmar/platform/av/PlayerItemLoader.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"

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
    {
        MutexLock lock(mutex_);
        if (asset_->isPlayable()) {
            duration_ = asset_->duration();
            const bool fetching = fetch && duration_.isNumeric();
            if (fetching) {
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

void PlayerItem::startFetching(const std::string& url) {
    std::weak_ptr<PlayerItem> weak = weak_from_this();
    auto loader = PlayerItemLoader::start(url, [weak](const PlayerItemLoader::Progress& progress) {
        if (!progress.error.empty()) {
            // What has loaded stays; playback stalls at its end.
            return;
        }
        dispatch::Queue::main()->async([weak, progress] {
            if (auto self = weak.lock()) {
                self->applyProgress(progress.received, progress.expected, progress.finished);
            }
        });
    });
    MutexLock lock(mutex_);
    loader_ = std::move(loader);
}

void PlayerItem::applyProgress(int64_t received, int64_t expected, bool finished) {
    media::Time end;
    {
        MutexLock lock(mutex_);
        if (std::isinf(loadedSeconds_)) {
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
