#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/foundation/Observable.h"

namespace pelmar::av {
class Player;
class URLAsset;
}  // namespace pelmar::av

namespace pelmar {

// The engine's notifications on the default notification centre. The object of
// kMediaLoadProgress is the loaded share of the item in percent, posted each time its loaded range
// grows (as an HTTP item's bytes arrive; once, 100, for a local file), and that of
// kPlayerTimeDidChange the engine's current time in seconds, each a `double`; kPlayerStalled
// (playback reached the end of what has loaded) carries the player's current item;
// kPlayerDidReachEnd nothing.
inline constexpr std::string_view kMediaLoadProgress =
        "com.brindlecove.medialoadedstate.notification";
inline constexpr std::string_view kPlayerStalled = "com.brindlecove.playerstalled.notification";
inline constexpr std::string_view kPlayerDidReachEnd =
        "com.brindlecove.playerdidreachend.notification";
inline constexpr std::string_view kPlayerTimeDidChange =
        "com.brindlecove.playertimejumped.notification";

enum class SkipDirection { backward = -1, forward = 1 };

// The direction of a raw value (-1.0 or 1.0); none for any other.
std::optional<SkipDirection> skipDirectionFromRawValue(double raw);

// PelmarAudioEngine: plays audio URLs through one player. A new URL is prepared (its duration
// read off the main thread) and played from a start time; asking again for the URL that is
// current toggles play and pause. It skips and seeks, and turns the player's item events into
// its own notifications. Only the latest request for a new URL is prepared and played: an
// earlier one still being prepared is dropped without its completion. Only the player's own
// current item counts for the end, stall and time-jump events.
// Ownership: one process-wide instance (sharedInstance()); owns its player and observers, which
//     refer to it weakly.
// Threads: sharedInstance() and resetShared() are thread-safe (one instance however many threads
//     ask first); the rest is main thread only. The completion of a new URL comes on a later
//     main-queue turn, that of a toggle at once. Its notifications are posted on the thread that
//     posted the player's.
// Errors: none reported: an unreadable URL is made current all the same (its duration is 0).
class PelmarAudioEngine : public std::enable_shared_from_this<PelmarAudioEngine> {
public:
    // (the URL that was current before, none for a toggle or the first item; the current time
    // in seconds when the request was made).
    using Completion = std::function<void(std::optional<std::string> previousItem, double time)>;

    static std::shared_ptr<PelmarAudioEngine> sharedInstance();
    // Drops the shared instance, stopping its player; the next sharedInstance() makes a new one.
    static void resetShared();

    ~PelmarAudioEngine();

    const std::shared_ptr<av::Player>& player() const { return player_; }

    // Seconds, as the asset reported them; none until a new URL's duration has been read.
    std::optional<double> playerDuration() const { return playerDuration_; }

    const std::optional<std::string>& currentPlayingItem() const { return currentPlayingItem_; }

    // The player's rate is not 0.
    bool isPlaying() const;
    // false pauses; true plays and writes the current time into the now-playing information.
    void setIsPlaying(bool playing);

    // playerDuration, or 0.
    double durationInSeconds() const { return playerDuration_.value_or(0.0); }

    double currentTimeInSeconds() const;

    // `springboardInfo` is accepted and not applied.
    void playPauseMediaFile(const std::string& audioUrl,
                            const Json& springboardInfo,
                            double startTime,
                            Completion completion);

    // Seeks to offset + interval (forward) or offset - interval (backward) seconds; the player
    // keeps the target within the item. Then writes the time into the now-playing information.
    void skipDirection(SkipDirection direction, double timeInterval, double offset);

    // `completion` runs on the main queue once the seek has ended, finished or not.
    void seekPlayerToTime(double value, std::function<void()> completion = nullptr);

    void playingStalled(const foundation::Notification& notification);
    void playerDidReachEnd(const foundation::Notification& notification);
    void playerItemTimeJumpedNotification(const foundation::Notification& notification);

private:
    PelmarAudioEngine();
    void setupNotifications();
    void prepareAndPlay(const std::shared_ptr<av::URLAsset>& asset,
                        double startTime,
                        uint64_t request,
                        std::function<void()> completion);
    // The notification is about the item the player has now.
    bool isCurrentItem(const foundation::Notification& notification) const;

    const std::shared_ptr<av::Player> player_;
    std::optional<double> playerDuration_;
    std::optional<std::string> currentPlayingItem_;
    // Counts requests for new URLs; a preparation whose number is not the latest is dropped.
    uint64_t request_ = 0;
    foundation::Observable<std::vector<av::TimeRange>>::Token timeRangesObservation_;
    std::vector<foundation::NotificationCenter::Token> tokens_;
};

}  // namespace pelmar
