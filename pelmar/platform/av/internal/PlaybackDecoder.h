#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"

struct AVFrame;

namespace pelmar::av::internal {

class ByteCache;

// PlaybackDecoder: the video of one movie as a player shows it. A thread of its own opens the
// movie once and decodes it in presentation order a few frames ahead of the time last asked for,
// into a small queue of upright pictures; asking for a time takes the picture showing then and
// drops the ones before it. A time behind what is queued, or far ahead with a key frame in
// between, makes the thread seek to the key frame at or before it and decode forward from there
// once; frames it passes on the way are decoded but never converted. The last frame of the movie
// stays for every time after it.
// Ownership: made with std::make_shared by the player for its current item; the destructor stops
//     the thread (a blocked network read gives up) and joins it.
// Threads: thread-safe; the decoding runs on the decoder's own thread, never on the caller's.
// Errors: a movie that cannot be opened or decoded gives no pictures (failed() turns true).
// Limits: at most kFramesAhead pictures wait beyond the one showing.
class PlaybackDecoder {
public:
    static constexpr int kFramesAhead = 3;

    struct Picture {
        // Upright BGRA, opaque, as the painter reads it in place.
        std::shared_ptr<const image::Bitmap> bitmap;
        // The decoded frame itself, for copies at other sizes and formats.
        std::shared_ptr<const AVFrame> frame;
        int quarterTurns = 0;
        // Source seconds from which the picture shows.
        double start = 0;
    };

    // With `cache`, the movie's bytes are read from it rather than fetched again. Pictures fit
    // within maxWidth x maxHeight (0: full size) until setMaximumSize() says otherwise.
    explicit PlaybackDecoder(std::string location,
                             std::shared_ptr<ByteCache> cache = nullptr,
                             int maxWidth = 0,
                             int maxHeight = 0);
    ~PlaybackDecoder();

    PlaybackDecoder(const PlaybackDecoder&) = delete;
    PlaybackDecoder& operator=(const PlaybackDecoder&) = delete;

    const std::string& location() const { return location_; }

    // The picture showing at `seconds` of the movie. When it has not been decoded yet, waits up to
    // `waitSeconds` of real time for it (0: never waits) and otherwise gives the picture given
    // last, or none before the first has been decoded.
    std::shared_ptr<const Picture> pictureAt(double seconds, double waitSeconds);

    // Pictures made from now on fit within maxWidth x maxHeight (0: full size).
    void setMaximumSize(int maxWidth, int maxHeight);

    // Frames the decoder has decoded, including those passed on the way to a time.
    int64_t framesDecoded() const { return framesDecoded_.load(); }

    bool failed() const;

    // `picture`'s frame upright, fitted to maxWidth x maxHeight (0: unbounded), as straight RGBA.
    static std::shared_ptr<image::Bitmap> copy(const Picture& picture, int maxWidth, int maxHeight);

private:
    void run();
    // Drops the pictures that a later one replaces at `seconds`; true when the first one left
    // shows at `seconds`.
    bool settleLocked(double seconds) PELMAR_REQUIRES(mutex_);

    const std::string location_;
    const std::shared_ptr<ByteCache> cache_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> framesDecoded_{0};
    mutable Mutex mutex_;
    CondVar changed_;
    // The time last asked for, in movie seconds.
    double wanted_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::deque<std::shared_ptr<const Picture>> queue_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<const Picture> shown_ PELMAR_GUARDED_BY(mutex_);
    // The decoder has passed the last frame; the back of the queue shows to the end.
    bool ended_ PELMAR_GUARDED_BY(mutex_) = false;
    bool failed_ PELMAR_GUARDED_BY(mutex_) = false;
    // The front of the queue is the movie's first frame: nothing lies before it.
    bool atFirstFrame_ PELMAR_GUARDED_BY(mutex_) = false;
    // The start of the newest frame decoded, and how long a frame shows.
    double decodedUpTo_ PELMAR_GUARDED_BY(mutex_) = -1;
    double frameSeconds_ PELMAR_GUARDED_BY(mutex_) = 0;
    int maxWidth_ PELMAR_GUARDED_BY(mutex_) = 0;
    int maxHeight_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::thread thread_;
};

}  // namespace pelmar::av::internal
