#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "pelmar/platform/av/internal/FrameQueue.h"
#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::av::internal {

class ByteCache;

// PlaybackDecoder: the decode thread of one movie as a player shows it. Its thread opens the movie
// once and decodes it in presentation order a few frames ahead of the time last asked for, into
// a FrameQueue of upright pictures. A seek, or a time behind what is queued, or far ahead with a
// key frame in between, makes the thread seek to the key frame at or before it and decode forward
// from there once, under a new seek serial; frames it passes on the way are decoded but never
// converted. The first frame reached after a seek to or before the movie's first picture is the
// picture shown. Times are the item's seconds: a frame's timestamp less the movie's origin
// (MovieDecoder::originSeconds()). The last frame of the movie stays for every time after it.
// Ownership: made with std::make_shared by the presenter for its current source; the destructor
//     stops the thread (a blocked network read gives up) and joins it. Queued pictures hold their
//     bitmaps only; no decoded frame is kept.
// Threads: thread-safe; the decoding runs on the decoder's own thread, never on the caller's,
//     except copy(), which decodes its one frame on the caller's.
// Errors: a movie that cannot be opened or decoded gives no pictures (failed() turns true).
// Limits: at most kFramesAhead pictures wait beyond the one showing.
class PlaybackDecoder {
public:
    static constexpr int kFramesAhead = FrameQueue::kFramesAhead;

    using Picture = FrameQueue::Picture;

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

    // See FrameQueue::pictureAt().
    std::shared_ptr<const Picture> pictureAt(double seconds, double waitSeconds) {
        return queue_.pictureAt(seconds, waitSeconds);
    }

    // Moves to `seconds` under a new seek serial: nothing decoded before shows again.
    void seek(double seconds) { queue_.seek(seconds); }

    // Pictures made from now on fit within maxWidth x maxHeight (0: full size).
    void setMaximumSize(int maxWidth, int maxHeight) { queue_.setMaximumSize(maxWidth, maxHeight); }

    // Frames the decoder has decoded, including those passed on the way to a time.
    int64_t framesDecoded() const { return framesDecoded_.load(); }

    bool failed() const { return queue_.failed(); }

    // `picture`'s frame decoded again from the movie on the calling thread, upright, fitted to
    // maxWidth x maxHeight (0: unbounded), as straight RGBA; null when it cannot be decoded.
    std::shared_ptr<image::Bitmap> copy(const Picture& picture, int maxWidth, int maxHeight) const;

private:
    void run();

    const std::string location_;
    const std::shared_ptr<ByteCache> cache_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> framesDecoded_{0};
    FrameQueue queue_;
    std::thread thread_;
};

}  // namespace pelmar::av::internal
