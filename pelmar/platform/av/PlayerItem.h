#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Observable.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// PlayerItem: one asset as a player presents it: its status (unknown until the asset has loaded,
// then ready to play, or failed when the asset cannot be read or has neither audio nor video),
// its duration once ready, and the notifications players post about it with the item as sender.
// Ownership: made by create() and held by shared_ptr; holds its asset. Players hold their items.
// Threads: thread-safe. The asset loads in the background once a player takes the item (or
//     load() is called); status then changes on the main thread, so its observers run there.
// Errors: error() once the status is Failed: the asset's error (kAssetErrorDomain), or
//     kAssetErrorUnparsable when it has no audio or video track.

namespace pelmar::av {

// Posted on the main thread by the player when an item has played to its end; sender: the item.
inline constexpr std::string_view kPlayerItemDidPlayToEndTimeNotification =
        "AVPlayerItemDidPlayToEndTimeNotification";
// Posted when an item that was asked to play fails; sender: the item; userInfo "error": its text.
inline constexpr std::string_view kPlayerItemFailedToPlayToEndTimeNotification =
        "AVPlayerItemFailedToPlayToEndTimeNotification";
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

    std::optional<Error> error() const;

    // Invalid until the item is ready; the asset's duration then.
    media::Time duration() const;

    // Starts loading the asset once; later calls do nothing.
    void load();

private:
    struct Key {};

public:
    PlayerItem(Key, std::shared_ptr<Asset> asset);

private:
    void finishLoading();

    const std::shared_ptr<Asset> asset_;
    mutable Mutex mutex_;
    bool loading_ PELMAR_GUARDED_BY(mutex_) = false;
    media::Time duration_ PELMAR_GUARDED_BY(mutex_);
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
