#pragma once

#include <optional>
#include <string_view>

#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::mediaplayer {

// Keys of the now-playing information.
inline constexpr std::string_view kMediaItemPropertyTitle = "title";
inline constexpr std::string_view kMediaItemPropertyArtist = "artist";
inline constexpr std::string_view kMediaItemPropertyPlaybackDuration = "playbackDuration";
inline constexpr std::string_view kMediaItemPropertyPodcastTitle = "podcastTitle";
// The artwork: the path of the image file it was made from.
inline constexpr std::string_view kMediaItemPropertyArtwork = "artwork";
inline constexpr std::string_view kNowPlayingInfoPropertyElapsedPlaybackTime =
        "elapsedPlaybackTime";

// NowPlayingInfoCenter: what the lock screen shows for the app's playback: absent, or a
// dictionary of the keys above. Tests read it back.
// Ownership: one process-wide instance (defaultCenter()), never destroyed.
// Threads: thread-safe.
// Errors: none.
class NowPlayingInfoCenter {
public:
    static NowPlayingInfoCenter& defaultCenter();

    NowPlayingInfoCenter(const NowPlayingInfoCenter&) = delete;
    NowPlayingInfoCenter& operator=(const NowPlayingInfoCenter&) = delete;

    std::optional<Json> nowPlayingInfo() const;
    void setNowPlayingInfo(std::optional<Json> info);

    // Remote-control events (lock-screen buttons) are received once an app asks for them.
    void beginReceivingRemoteControlEvents();
    bool isReceivingRemoteControlEvents() const;

    // No information, no remote-control events.
    void reset();

private:
    NowPlayingInfoCenter() = default;

    mutable Mutex mutex_;
    std::optional<Json> info_ PELMAR_GUARDED_BY(mutex_);
    bool remoteControl_ PELMAR_GUARDED_BY(mutex_) = false;
};

}  // namespace pelmar::mediaplayer
