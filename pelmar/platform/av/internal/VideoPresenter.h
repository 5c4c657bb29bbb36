#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av::internal {

class ByteCache;
class PlaybackDecoder;

// VideoPresenter: hands a player's layer the picture of the current item for a time. It holds the
// decode thread (PlaybackDecoder) of the movie that shows now, made once something shows
// pictures and replaced when the item or its movie changes, passes the player's seeks on to it,
// and keeps the last picture of a queue played to its end.
// Ownership: owned by its player. A decoder it gives up is handed to the caller, which drops it
//     (stopping and joining its thread) with no lock held.
// Threads: thread-safe; its lock may be taken inside the player's, never the other way round, and
//     no wait for a picture holds it.
// Errors: none of its own: a movie that cannot be decoded shows no picture.
// Limits: one decoder at a time.
class VideoPresenter {
public:
    using Decoder = std::shared_ptr<PlaybackDecoder>;

    // From now on decoders are made; false when that was so already.
    bool prepare();

    bool prepared() const;

    // Whether it holds the decoder of `item` (any identity the player gives its items).
    bool presents(const void* item) const;

    // The decoder of `location` for `item`, made at the size last asked for when it holds none
    // (or one of another item or movie, which goes to `retired`).
    Decoder use(const void* item,
                const std::string& location,
                std::shared_ptr<ByteCache> cache,
                Decoder& retired);

    // Gives up the decoder of `item`; null when it holds none.
    Decoder release(const void* item);

    // A seek moved `item` to `seconds` of `location`: pictures decoded before it are dropped.
    void seek(const void* item, const std::string& location, double seconds);

    // The picture `decoder` shows at `seconds` (see PlaybackDecoder::pictureAt()); pictures made
    // from now on fit within maxWidth x maxHeight (0: full size), for later decoders too.
    std::shared_ptr<const image::Bitmap> present(const Decoder& decoder,
                                                 double seconds,
                                                 int maxWidth,
                                                 int maxHeight,
                                                 double waitSeconds);

    // The picture at `seconds` made again as straight RGBA (see PlaybackDecoder::copy()).
    static std::shared_ptr<image::Bitmap> copy(const Decoder& decoder,
                                               double seconds,
                                               int maxWidth,
                                               int maxHeight,
                                               double waitSeconds);

    // The picture left on screen once a queue has played its last item to the end.
    void keepLast(std::shared_ptr<const image::Bitmap> picture);
    std::shared_ptr<const image::Bitmap> lastPicture() const;
    void forgetLast();

    // Frames decoded by the decoder it holds; 0 without one.
    int64_t framesDecoded() const;

private:
    mutable Mutex mutex_;
    bool prepared_ PELMAR_GUARDED_BY(mutex_) = false;
    Decoder decoder_ PELMAR_GUARDED_BY(mutex_);
    const void* item_ PELMAR_GUARDED_BY(mutex_) = nullptr;
    // The size last asked for, kept for the decoders of the items that come next.
    int maxWidth_ PELMAR_GUARDED_BY(mutex_) = 0;
    int maxHeight_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<const image::Bitmap> last_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av::internal
