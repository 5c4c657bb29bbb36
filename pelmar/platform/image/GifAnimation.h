#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::image {

// GifAnimation: a frame-indexed reader of animated GIFs over giflib. open() walks the file once
// and keeps, per frame, where its picture starts, its rectangle, delay, disposal and transparent
// colour; no pixels. frameAt(i) decodes on demand and returns frame i composited on the logical
// screen the way a viewer shows it: every earlier frame drawn and disposed of (0 and 1 keep the
// picture, 2 clears the frame's rectangle to transparent, 3 restores what was there before the
// frame). Sequential requests continue from the last composited screen; any other request
// replays from the nearest earlier frame that starts from a clear screen.
// Ownership: made by open() and held by unique_ptr; shares the GIF bytes it was given.
// Threads: thread-safe; frameAt() calls are serialised on an internal mutex (a leaf).
// Errors: open() answers null for data that is not a GIF giflib can read, a GIF without frames,
//     more than kMaxFrames frames, or a screen or frame above the pixel cap. frameAt() answers
//     null for an index out of range or a frame whose data are corrupt or truncated.
// Limits: kMaxFrames frames; the logical screen and every frame at most `maxPixels` pixels (and
//     Bitmap's limits); frame rectangles are clipped to the screen.
class GifAnimation {
public:
    static constexpr std::size_t kMaxFrames = 20000;

    struct Frame {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        // From the frame's graphic control extension: delay in hundredths of a second (none
        // without an extension), disposal 0-3 (other values keep the picture), transparent index.
        std::optional<int> delayCentiseconds;
        int disposal = 0;
        int transparentIndex = -1;
        // Where the frame's image separator sits in the data.
        std::size_t offset = 0;
        // Decoding may start here on a clear screen.
        bool startsClear = false;
    };

    static std::unique_ptr<GifAnimation> open(std::shared_ptr<const std::string> data,
                                              int64_t maxPixels = Bitmap::kMaxPixels);

    // Whether open() would find a frame: the screen and the first frame within `maxPixels`, and
    // all of that frame's picture data present. Walks the records without decoding a pixel, so
    // a decoder may ask before it takes memory for the screen.
    static bool hasCompleteFrame(std::string_view data, int64_t maxPixels = Bitmap::kMaxPixels);

    GifAnimation(const GifAnimation&) = delete;
    GifAnimation& operator=(const GifAnimation&) = delete;
    ~GifAnimation();

    int width() const { return width_; }

    int height() const { return height_; }

    std::size_t frameCount() const { return frames_.size(); }

    const Frame& frame(std::size_t index) const { return frames_.at(index); }

    // The NETSCAPE2.0 loop count (0 = endless), or none when the file has no such extension.
    std::optional<int> loopCount() const { return loopCount_; }

    const std::shared_ptr<const std::string>& data() const { return data_; }

    // Frame `index` on the screen: a new BGRA8 bitmap with premultiplied alpha at scale 1.
    std::shared_ptr<Bitmap> frameAt(std::size_t index) PELMAR_EXCLUDES(mutex_);

private:
    struct Decoder;

    GifAnimation(std::shared_ptr<const std::string> data);

    // Reads the screen and indexes frames until `enough` are complete or the data end; false
    // when open() must refuse the data.
    bool index(std::string_view data, int64_t maxPixels, std::size_t enough);

    // Draws frame `index` onto canvas_ and remembers what disposal 3 needs.
    bool compose(Decoder& decoder, std::size_t index) PELMAR_REQUIRES(mutex_);

    // Applies the disposal of the frame last composed.
    void dispose(std::size_t index) PELMAR_REQUIRES(mutex_);

    std::shared_ptr<const std::string> data_;
    int width_ = 0;
    int height_ = 0;
    std::optional<int> loopCount_;
    std::vector<Frame> frames_;

    Mutex mutex_;
    // The screen after compose() of composed_ (disposal not yet applied), and the screen before
    // it when its disposal is 3.
    std::vector<uint32_t> canvas_ PELMAR_GUARDED_BY(mutex_);
    std::vector<uint32_t> previous_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::size_t> composed_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::image
