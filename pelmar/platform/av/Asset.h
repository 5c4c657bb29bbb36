#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/AssetTrack.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// Asset: what every piece of timed media answers: its duration and its tracks by media type, once
// loaded. Loading happens once: loadValuesAsynchronously() starts it in the background, and the
// synchronous accessors load on the calling thread when nothing has loaded them yet (blocking it
// for a remote source). A failed load leaves a zero duration, no tracks and an error.
// Ownership: reference object held by shared_ptr (subclasses are made by their create()); its
//     tracks are shared immutable objects that may outlive it.
// Threads: thread-safe. Load completions run on the global queue.
// Errors: error() after a failed load, in kAssetErrorDomain (codes below); status() is Failed,
//     or Cancelled after cancelLoading().

namespace pelmar::av {

inline constexpr std::string_view kAssetErrorDomain = "pelmar.av.asset";
inline constexpr long kAssetErrorNotFound = 1;    // no such file, or the server answered 404
inline constexpr long kAssetErrorUnreadable = 2;  // no permission, or the transfer failed
inline constexpr long kAssetErrorUnparsable = 3;  // not media that can be read, or no tracks
inline constexpr long kAssetErrorCancelled = 4;   // cancelLoading() stopped the load
inline constexpr long kAssetErrorBadURL = 5;      // empty, or a scheme other than file/http(s)

class Asset : public std::enable_shared_from_this<Asset> {
public:
    enum class Status : int { Unknown = 0, Loading = 1, Loaded = 2, Failed = 3, Cancelled = 4 };

    using Tracks = std::vector<std::shared_ptr<const AssetTrack>>;

    virtual ~Asset() = default;

    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    // Starts the load if nothing has, and calls `completion` on the global queue once it has
    // ended (also when it had already ended).
    void loadValuesAsynchronously(std::function<void()> completion);

    // Stops a load under way (it ends Cancelled) or prevents one that has not started.
    void cancelLoading();

    Status status() const;

    std::optional<Error> error() const;

    // Loads first when needed. Zero after a failed load.
    virtual media::Time duration() const;

    // Loads first when needed. In container order.
    virtual Tracks tracks() const;

    Tracks tracks(TrackMediaType type) const;

    // Loaded with at least one video or audio track.
    bool isPlayable() const;

protected:
    Asset() = default;

    struct Contents {
        media::Time duration = media::Time::zero();
        Tracks tracks;
    };

    struct LoadResult {
        Contents contents;
        std::optional<Error> error;
    };

    // Reads the source; runs once, on the thread that first needs the values. `cancelled` turns
    // true when cancelLoading() is called meanwhile.
    virtual LoadResult load(const std::function<bool()>& cancelled) const = 0;

    // Marks the asset loaded with `contents` (for assets made in memory).
    void markLoaded(Contents contents);

private:
    void loadNow() const;

    mutable Mutex mutex_;
    mutable CondVar loaded_;
    mutable Status status_ PELMAR_GUARDED_BY(mutex_) = Status::Unknown;
    mutable bool cancelRequested_ PELMAR_GUARDED_BY(mutex_) = false;
    mutable Contents contents_ PELMAR_GUARDED_BY(mutex_);
    mutable std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
