#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Observable.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {
class Queue;
class Timer;
}  // namespace pelmar::dispatch

namespace pelmar::av::internal {
class PlaybackDecoder;
class VideoPresenter;
}  // namespace pelmar::av::internal

// Player: plays one item on the installed clock. The current time advances with the clock at the
// player's rate while the item is ready; play() on an item that is still loading waits
// (timeControlStatus WaitingToPlayAtSpecifiedRate) and plays once it is ready. Once something
// shows its pictures (prepareVideo(), which a PlayerLayer calls), the current item's video is
// decoded once, in order, on a thread of its own, a few frames ahead of the current time, and
// currentPicture() gives the picture for the current time without decoding anything itself.
// It plays only what has loaded (the item's loadedTimeRanges; an HTTP item fetches its bytes
// once, see PlayerItem): reaching the end of that while playing posts
// kPlayerItemPlaybackStalledNotification (sender: the item) and waits (WaitingToPlay...) until
// more has loaded, then plays on by itself. At the item's end the player posts
// kPlayerItemDidPlayToEndTimeNotification (sender: the item) and then acts as actionAtItemEnd
// says (a plain player pauses there). A seek while playing waits for one main-loop turn before
// playing on, as a real seek does.
// Time base: the current time, the item's duration and the times of its pictures count from one
// start, the timestamp the container counts its duration from: a movie's first timestamp when
// its duration runs from there (an MPEG-TS file whose timestamps begin at 1.4 s shows its first
// frame at 0), zero when it runs from zero (an MPEG-4 movie whose empty edit or start offset
// delays its first frame: that frame is due at its own time and shows from 0 until then). After
// a seek to or before the first picture, the first picture shows; pictures decoded for the time
// before a seek never show after it.
// Ownership: create with std::make_shared (timers and hops hold it weakly, so a player that is
//     not held by a shared_ptr never ends or completes a seek); holds its items. Destroying it
//     stops its timers; periodic observers' blocks already queued still run.
// Threads: thread-safe. `status` and `timeControlStatus` observers run on the thread that made
//     the change: the caller's for play/pause/seek/rate, the main thread for changes that come
//     from loading, seek completion, the clock or an item's end. Seek completions and
//     notifications run on the main thread; periodic observers on the queue they were added with.
//     timeControlStatus is set before the notifications of the same change are posted, and
//     always to the status the player has when it is set, so the last command wins.
//     The decode thread is stopped and joined when the item stops being current, and with the
//     player.
// Errors: error() holds the error of a current item that failed to load. A video that cannot be
//     decoded gives no pictures.

namespace pelmar::av {

class Player : public std::enable_shared_from_this<Player> {
public:
    enum class Status : int { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

    enum class TimeControlStatus : int {
        Paused = 0,
        WaitingToPlayAtSpecifiedRate = 1,
        Playing = 2
    };

    enum class ActionAtItemEnd : int { Advance = 0, Pause = 1 };

    using SeekCompletion = std::function<void(bool finished)>;
    using TimeObserverBlock = std::function<void(media::Time)>;
    // Returned by addPeriodicTimeObserver; pass it to removeTimeObserver.
    using TimeObserver = std::shared_ptr<void>;

    // The timescale of the times the player reports (nanoseconds).
    static constexpr int32_t kTimescale = 1'000'000'000;

    Player();
    explicit Player(std::shared_ptr<PlayerItem> item);
    // A player over PlayerItem::create(url).
    explicit Player(const std::string& url);
    virtual ~Player();

    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // ReadyToPlay once a current item has become ready.
    foundation::Observable<Status> status{Status::Unknown};

    foundation::Observable<TimeControlStatus> timeControlStatus{TimeControlStatus::Paused};

    std::shared_ptr<PlayerItem> currentItem() const;

    // Replaces the current item (a queue player keeps the rest of its queue); starts at 0.
    void replaceCurrentItem(std::shared_ptr<PlayerItem> item);

    // setRate(1).
    void play();

    // setRate(0).
    void pause();

    float rate() const;

    // Negative rates play backwards and stop at 0. A current item that failed to load keeps
    // the rate at 0: there is nothing to play.
    void setRate(float rate);

    // Clamped to [0, 1]. Only recorded: nothing is heard.
    float volume() const;
    void setVolume(float volume);

    bool isMuted() const;
    void setMuted(bool muted);

    ActionAtItemEnd actionAtItemEnd() const;
    void setActionAtItemEnd(ActionAtItemEnd action);

    std::optional<Error> error() const;

    // The current item's time (zero without an item), within [0, its duration].
    media::Time currentTime() const;

    // Moves to `to`, clamped to the item. The tolerances are accepted and the time is always
    // exact (no frames to snap to). `completion` runs on the main queue: true once the seek is
    // done (into an item still loading: once it is ready), false when a later seek or an item
    // change replaced it, when the item failed to load, or when there is no item.
    void seek(media::Time to, SeekCompletion completion = nullptr);
    void seek(media::Time to,
              media::Time toleranceBefore,
              media::Time toleranceAfter,
              SeekCompletion completion = nullptr);

    // Calls `block` with the current time on `queue` (the main queue when null) every `interval`
    // of clock time while playing, and once whenever playback starts, stops or seeks. The player
    // does not keep the observer alive past removeTimeObserver() or its own end.
    [[nodiscard]] TimeObserver addPeriodicTimeObserver(media::Time interval,
                                                       std::shared_ptr<dispatch::Queue> queue,
                                                       TimeObserverBlock block);

    void removeTimeObserver(const TimeObserver& observer);

    // How long currentPicture() waits for the decoder under a manual clock, in real seconds.
    static constexpr double kPictureWaitSeconds = 10;

    // Starts decoding the current item's video (and that of each item that becomes current) ahead
    // of the first picture asked for. Later calls do nothing.
    void prepareVideo();

    // The picture of the current item's video at the current time: upright, opaque BGRA; null
    // without a ready item with video, or before the first picture has been decoded. After the
    // last item of a queue has played to its end, its last picture stays. It never decodes on
    // the calling thread and, with a real clock, never waits: it gives the newest picture at or
    // before the time. Under a manual clock (tests, tools that step time) it waits up to
    // kPictureWaitSeconds of real time for the decoder to reach the time, so that the picture
    // follows the clock exactly. `maxWidth` x `maxHeight` (0: full size) bounds the pictures
    // decoded from now on; one made earlier may come at another size.
    std::shared_ptr<const image::Bitmap> currentPicture(int maxWidth = 0, int maxHeight = 0);

    // The current picture made again from its frame, which is decoded once more for it on the
    // calling thread (pictures keep no decoded frame): upright, straight RGBA, fitted to
    // maxWidth x maxHeight (0 leaves a side unbounded); null when there is none.
    std::shared_ptr<image::Bitmap> copyCurrentPicture(int maxWidth, int maxHeight);

    // Video frames decoded for the current item so far, including those decoded only on the way
    // to a seek's time; 0 before its video is decoded.
    int64_t videoFramesDecoded() const;

protected:
    // The items the player holds, current first (a plain player holds at most one).
    std::vector<std::shared_ptr<PlayerItem>> queuedItems() const;

    // Inserts `item` after `after` (at the end when null or not queued; first when `atFront`).
    // False when the item is already queued.
    bool insertItem(std::shared_ptr<PlayerItem> item,
                    const std::shared_ptr<PlayerItem>& after,
                    bool atFront = false);

    void removeItem(const std::shared_ptr<PlayerItem>& item);

    void removeAllItems();

    // Drops the current item; the next (if any) becomes current at time 0.
    void advanceToNext();

private:
    struct Entry;
    struct PeriodicObserver;
    struct Changes;
    struct PictureSource;

    // The current item's decoder, started when needed, and the movie time that shows now.
    std::shared_ptr<internal::PlaybackDecoder> videoNow(double& sourceSeconds);
    void startVideo(Changes& changes);

    void applyItemStatus(const std::shared_ptr<PlayerItem>& item, PlayerItem::Status itemStatus);
    void applyLoadedRanges(const std::shared_ptr<PlayerItem>& item);
    // The end of what the current item has loaded, in seconds (infinite when all of it has).
    double loadedLocked() const PELMAR_REQUIRES(mutex_);
    // Playing forward and at the end of what has loaded, short of the item's end.
    bool starvedLocked() const PELMAR_REQUIRES(mutex_);
    // Tells the current item's decoder that the time moved to position_ by a seek.
    void seekVideoLocked() PELMAR_REQUIRES(mutex_);
    void finishSeek(uint64_t generation, bool finished);
    void postSeekEnd(uint64_t generation, bool finished);
    void onItemEnd(uint64_t generation);
    double positionLocked() const PELMAR_REQUIRES(mutex_);
    double durationLocked() const PELMAR_REQUIRES(mutex_);
    // Recomputes the time control status and timers after a change; returns what to announce.
    void refreshLocked(Changes& changes) PELMAR_REQUIRES(mutex_);
    void announce(Changes& changes);
    // Sets timeControlStatus to the status the player has now, unless that was told last.
    void publishControl();
    void dropCurrentLocked(Changes& changes) PELMAR_REQUIRES(mutex_);
    // Advances or pauses, as actionAtItemEnd says, when the current item ends or fails.
    void finishCurrentLocked(Changes& changes) PELMAR_REQUIRES(mutex_);
    void notifyObservers(const std::vector<std::shared_ptr<PeriodicObserver>>& observers);

    mutable Mutex mutex_;
    std::vector<Entry> items_ PELMAR_GUARDED_BY(mutex_);
    float rate_ PELMAR_GUARDED_BY(mutex_) = 0;
    float volume_ PELMAR_GUARDED_BY(mutex_) = 1;
    bool muted_ PELMAR_GUARDED_BY(mutex_) = false;
    ActionAtItemEnd actionAtItemEnd_ PELMAR_GUARDED_BY(mutex_) = ActionAtItemEnd::Pause;
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
    // The time at `anchor_` of the clock; it moves with the clock while `running_`.
    double position_ PELMAR_GUARDED_BY(mutex_) = 0;
    double anchor_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool running_ PELMAR_GUARDED_BY(mutex_) = false;
    TimeControlStatus control_ PELMAR_GUARDED_BY(mutex_) = TimeControlStatus::Paused;
    // Held while timeControlStatus is set; taken before `mutex_`, never after it.
    RecursiveMutex publishMutex_;
    TimeControlStatus published_ PELMAR_GUARDED_BY(publishMutex_) = TimeControlStatus::Paused;
    bool everReady_ PELMAR_GUARDED_BY(mutex_) = false;
    bool seeking_ PELMAR_GUARDED_BY(mutex_) = false;
    uint64_t seekGeneration_ PELMAR_GUARDED_BY(mutex_) = 0;
    SeekCompletion pendingSeek_ PELMAR_GUARDED_BY(mutex_);
    // The seek that waits for the current item to load (0: none).
    uint64_t seekAwaitingItem_ PELMAR_GUARDED_BY(mutex_) = 0;
    // Bumped whenever the end timer is replaced, so a stale fire is ignored.
    uint64_t endGeneration_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<dispatch::Timer> endTimer_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<PeriodicObserver>> observers_ PELMAR_GUARDED_BY(mutex_);
    // The pictures of the current item's video.
    const std::unique_ptr<internal::VideoPresenter> presenter_;
};

}  // namespace pelmar::av
