#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/PlayerItemLoader.h"
#include "pelmar/platform/av/TimeRange.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Observable.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// PlayerItem: one asset as a player presents it: its status (unknown until the asset has loaded,
// then ready to play, or failed when the asset cannot be read or has neither audio nor video),
// its duration once ready, the stretch of it that has loaded, and the notifications players post
// about it with the item as sender. A local item has loaded whole once it is ready. An HTTP item
// fetches its bytes (PlayerItemLoader) into a byte cache (an unlinked file in the app's temporary
// folder) that its asset's probe and the player's decoder read (also for a composition whose
// pictures all come from one remote movie, as a subtitled video's): load() fetches only what the
// probe reads, by HTTP range; once a player makes the item current every byte is fetched, those
// the decoder waits for first, none twice. Its loaded ranges are the stretches of bytes that have
// arrived, each as the same share of the duration, until they cover all of it. A player plays
// only what has loaded: reaching the end of a loaded range while playing stalls until more
// arrives.
// Ownership: made by create() and held by shared_ptr; holds its asset, its loader (which refers
//     to it weakly) and the cache file, removed with the last of them. Players hold their items;
//     dropping the item stops its fetch.
// Threads: thread-safe. The asset loads in the background once a player takes the item (or
//     load() is called); status and loadedTimeRanges then change on the main thread, so their
//     observers run there.
// Errors: error() once the status is Failed: the asset's error (kAssetErrorDomain), or
//     kAssetErrorUnparsable when it has no audio or video track. A transfer of an HTTP item's
//     bytes that breaks off leaves the loaded range where it stopped (playback stalls there).
// Limits: an HTTP item keeps at most maximumCacheBytes() (ByteCache::kDefaultMaxBytes unless
//     set); a larger movie fails to load, or stops loading, with an error that says so.

namespace pelmar::av {

namespace internal {
class ByteCache;
}

// Posted on the main thread by the player when an item has played to its end; sender: the item.
inline constexpr std::string_view kPlayerItemDidPlayToEndTimeNotification =
        "AVPlayerItemDidPlayToEndTimeNotification";
// Posted when an item that was asked to play fails; sender: the item; userInfo "error": its text.
inline constexpr std::string_view kPlayerItemFailedToPlayToEndTimeNotification =
        "AVPlayerItemFailedToPlayToEndTimeNotification";
// Posted when playback reaches the end of what has loaded while playing; sender: the item.
inline constexpr std::string_view kPlayerItemPlaybackStalledNotification =
        "AVPlayerItemPlaybackStalledNotification";
// Posted when a seek moves the item's time; sender: the item.
inline constexpr std::string_view kPlayerItemTimeJumpedNotification =
        "AVPlayerItemTimeJumpedNotification";

class PlayerItem : public std::enable_shared_from_this<PlayerItem> {
public:
    enum class Status : int { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

    static std::shared_ptr<PlayerItem> create(std::shared_ptr<Asset> asset);

    // An item over URLAsset::create(url).
    static std::shared_ptr<PlayerItem> create(std::string url);

    PlayerItem(const PlayerItem&) = delete;
    PlayerItem& operator=(const PlayerItem&) = delete;

    const std::shared_ptr<Asset>& asset() const { return asset_; }

    // Changes once, on the main thread, after load().
    foundation::Observable<Status> status{Status::Unknown};

    // What has loaded: empty until the item is ready and, for an HTTP item, until its first bytes
    // have arrived; then the loaded stretches in order (one from 0 for bytes fetched from the
    // start). Changes on the main thread.
    foundation::Observable<std::vector<TimeRange>> loadedTimeRanges;

    std::optional<Error> error() const;

    // Invalid until the item is ready; the asset's duration then.
    media::Time duration() const;

    // Starts loading the asset once; later calls do nothing.
    void load();

    // The end of what has loaded from the start, in seconds; infinite once everything has (or for
    // an item whose duration is not a number), 0 before the item is ready.
    double loadedSeconds() const;

    // The end of the loaded range that `seconds` falls in (a range starting a little after it
    // counts: the bytes of a seek's key frame lie before its time); `seconds` itself when none
    // does. Infinite once everything has loaded.
    double loadedSecondsFrom(double seconds) const;

    // The bound on the bytes an HTTP item keeps; set before the item loads.
    void setMaximumCacheBytes(int64_t bytes);
    int64_t maximumCacheBytes() const;

    // Called by a player that makes the item current: an HTTP item fetches all its bytes (once it
    // is ready, if it is not yet). Later calls do nothing.
    void startBuffering();

    // The bytes of an HTTP item as its fetch brings them, for the player's decoder; null for other
    // items and before the fetch has begun.
    std::shared_ptr<internal::ByteCache> fetchedBytes() const;

    // The same when `location` is the movie the item fetches (the decoder's source), else null.
    std::shared_ptr<internal::ByteCache> fetchedBytesOf(const std::string& location) const;

private:
    struct Key {};

public:
    PlayerItem(Key, std::shared_ptr<Asset> asset);

private:
    void finishLoading();
    // Fetches an HTTP item's bytes (all of them when `whole`), growing the loaded ranges as they
    // arrive.
    void startFetching(const std::string& url, bool whole);
    void applyProgress(const PlayerItemLoader::Progress& progress);
    // Makes the cache the fetch fills and that the asset and the decoder read; null on failure.
    std::shared_ptr<internal::ByteCache> makeCacheLocked() PELMAR_REQUIRES(mutex_);

    const std::shared_ptr<Asset> asset_;
    mutable Mutex mutex_;
    bool loading_ PELMAR_GUARDED_BY(mutex_) = false;
    media::Time duration_ PELMAR_GUARDED_BY(mutex_);
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
    double loadedSeconds_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool bufferingWanted_ PELMAR_GUARDED_BY(mutex_) = false;
    // The URL to fetch once buffering is wanted; empty when there is nothing (more) to fetch.
    std::string fetchURL_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PlayerItemLoader> loader_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<internal::ByteCache> cache_ PELMAR_GUARDED_BY(mutex_);
    // What the cache holds the bytes of, once the fetch has started.
    std::string fetchedURL_ PELMAR_GUARDED_BY(mutex_);
    // The fetch's last count, kept while the duration that turns it into time is not known.
    PlayerItemLoader::Progress progress_ PELMAR_GUARDED_BY(mutex_);
    // The loaded stretches as times, in order.
    std::vector<TimeRange> loaded_ PELMAR_GUARDED_BY(mutex_);
    int64_t maxCacheBytes_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
