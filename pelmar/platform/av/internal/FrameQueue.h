#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av::internal {

// FrameQueue: the pictures a decode thread has made ahead of the time a presenter asks for, and
// the seek serial that tells pictures made for the latest seek from those made before it. A seek
// (asked for by the presenter, or made by the decode thread when the time goes back or jumps far
// ahead) starts a new serial: the queue is emptied at once and a picture of an older serial that
// arrives later is dropped, whatever its time. Times are the item's seconds (see Player.h).
// Ownership: shared by the decode thread and its owner; it holds the pictures (upright BGRA
//     bitmaps only) and the picture shown last.
// Threads: thread-safe; awaitWork() blocks the decode thread until there is work.
// Errors: a failed decoder is recorded (failed()); pictureAt() then gives what it has.
// Limits: the decode thread is let decode at most kFramesAhead pictures beyond the time asked for.
class FrameQueue {
public:
    static constexpr int kFramesAhead = 3;

    struct Picture {
        // Upright BGRA, opaque, as the painter reads it in place.
        std::shared_ptr<const image::Bitmap> bitmap;
        // Item seconds from which the picture shows.
        double start = 0;
        // The seek serial it was decoded for.
        uint64_t serial = 0;
        // No picture of its serial lies before it: it also shows for the times between the
        // serial's seek and its own start (a seek to or before a movie's first picture).
        bool first = false;
    };

    // What the decode thread does next.
    struct Work {
        enum class Kind { Stop, Seek, Decode } kind = Kind::Stop;
        uint64_t serial = 0;
        // For Seek: the item seconds to seek to.
        double seconds = 0;
        int maxWidth = 0;
        int maxHeight = 0;
    };

    // The frame the decode thread holds, decoded but not yet converted (none: start < 0).
    struct Held {
        double start = -1;
        bool first = false;
    };

    // --- The presenter's side.

    // The picture showing at `seconds`. When it has not been made yet, waits up to `waitSeconds`
    // of real time for it (0: never waits); otherwise gives the picture given last, or the first
    // of the latest seek once one has been made, or none.
    std::shared_ptr<const Picture> pictureAt(double seconds, double waitSeconds);

    // Starts a new serial at `seconds`: the pictures queued and any made before are dropped.
    void seek(double seconds);

    // Pictures made from now on fit within maxWidth x maxHeight (0: full size).
    void setMaximumSize(int maxWidth, int maxHeight);

    bool failed() const;

    // --- The decode thread's side.

    // Waits until there is something to do. `held` is the frame the thread holds; `finished`
    // says the movie has no frame after it; `keyFrameAtOrBefore` tells (in item seconds, -1 when
    // unknown) whether a far time is better reached by a seek.
    Work awaitWork(Held held,
                   bool finished,
                   const std::function<double(double)>& keyFrameAtOrBefore);

    // Whether the held frame would ever show, given the start of the frame after it (none: the
    // movie ends with it).
    bool wouldShow(uint64_t serial, Held held, const double* nextStart) const;

    // Queues `picture` unless a later seek has made it stale.
    void push(std::shared_ptr<const Picture> picture);

    // The frame that starts at `start` was decoded for `serial`.
    void decoded(uint64_t serial, double start);

    // The movie ended after the last picture of `serial`: that one shows to the end.
    void ended(uint64_t serial);

    void fail();

    // How long a frame shows when nothing follows it (0: unknown).
    void setFrameSeconds(double seconds);

    // Makes awaitWork() give Stop from now on.
    void stop();

private:
    // Drops the pictures that a later one replaces at `seconds`; true when the front one shows
    // at `seconds`.
    bool settleLocked(double seconds) PELMAR_REQUIRES(mutex_);
    void seekLocked(double seconds) PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    CondVar changed_;
    bool stopped_ PELMAR_GUARDED_BY(mutex_) = false;
    // The time last asked for.
    double wanted_ PELMAR_GUARDED_BY(mutex_) = 0;
    // The latest seek: its serial, its time, and whether the decode thread has yet to make it.
    uint64_t serial_ PELMAR_GUARDED_BY(mutex_) = 0;
    double seekedTo_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool seekPending_ PELMAR_GUARDED_BY(mutex_) = false;
    std::deque<std::shared_ptr<const Picture>> queue_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<const Picture> shown_ PELMAR_GUARDED_BY(mutex_);
    // The decoder has passed the last frame of the serial; the back of the queue shows to the end.
    bool ended_ PELMAR_GUARDED_BY(mutex_) = false;
    bool failed_ PELMAR_GUARDED_BY(mutex_) = false;
    // The start of the newest frame decoded for the serial (or the seek's time).
    double decodedUpTo_ PELMAR_GUARDED_BY(mutex_) = -1;
    double frameSeconds_ PELMAR_GUARDED_BY(mutex_) = 0;
    int maxWidth_ PELMAR_GUARDED_BY(mutex_) = 0;
    int maxHeight_ PELMAR_GUARDED_BY(mutex_) = 0;
};

}  // namespace pelmar::av::internal
