#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av::internal {

class ByteCache;
class ByteCacheInput;

// MovieDecoder: one open demuxer and video decoder over a movie (or picture) file or URL, read in
// presentation order from wherever it was last positioned: the frame grabber and the player's
// decode thread both work through it, so that a movie is opened once per use and decoded forward.
// Ownership: owns the libavformat and libavcodec contexts; frames it returns are the caller's.
//     `stop`, when given, must outlive it.
// Threads: thread-compatible.
// Errors: open() gives null and says which step failed; nextFrame() gives null at the end of the
//     movie or when reading fails.
class MovieDecoder {
public:
    enum class Failure { Open, NoVideo, Decoder };

    // Opens and probes `location` and opens a decoder for its best video stream. `stop` returning
    // true makes blocked reads give up. With `cache`, the bytes of `location` are read from it.
    static std::unique_ptr<MovieDecoder> open(const std::string& location,
                                              Failure& failure,
                                              const std::function<bool()>* stop = nullptr,
                                              std::shared_ptr<ByteCache> cache = nullptr);

    ~MovieDecoder();

    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    // A still picture (no timestamps or no duration): it has no end.
    bool isStill() const;

    // The container's duration in seconds; 0 when unknown.
    double durationSeconds() const;

    // The timestamp, in seconds, from which the container's duration counts: its first timestamp
    // when the duration spans from there to its end (an MPEG-TS file whose timestamps start at
    // 1.4 s), zero when the duration counts from zero (an MPEG-4 movie whose empty edit or start
    // offset delays its first frame). A frame's time in the movie is its timestamp less this.
    double originSeconds() const;

    // Clockwise quarter turns (0..3) that show the pictures upright.
    int quarterTurns() const;

    // The stream time base, for turning frame timestamps into times.
    AVRational timeBase() const;

    // Makes the next frame the key frame at or before `seconds` (the first frame for 0 or less).
    void seek(double seconds);

    // The time of the key frame at or before `seconds` from the container's index; -1 when the
    // index does not tell.
    double keyFrameAtOrBefore(double seconds) const;

    // The next frame in presentation order; null at the end or on a read or decode error.
    libav::FramePtr nextFrame();

    // A frame's presentation time in seconds (its best-effort timestamp); NaN when it has none.
    double frameSeconds(const AVFrame& frame) const;

    // How long a frame shows at the stream's frame rate, in seconds; 0 when it does not say.
    double frameDurationSeconds() const;

    // Frames decoded since open, counting those dropped before they were shown.
    int64_t framesDecoded() const { return framesDecoded_; }

    // `frame` upright (when `upright`) and scaled down, keeping its aspect, to fit maxWidth x
    // maxHeight (0 leaves a side unbounded; never scaled up). RGBA8 pictures have straight alpha;
    // BGRA8 ones are opaque, as a painter reads them in place. Null when the size is outside the
    // bitmap caps.
    std::shared_ptr<image::Bitmap> picture(const AVFrame& frame,
                                           int maxWidth,
                                           int maxHeight,
                                           bool upright,
                                           image::PixelFormat format);

    // As picture(), for a frame turned by `turns` quarter turns, with a scaler the caller keeps.
    static std::shared_ptr<image::Bitmap> convert(const AVFrame& frame,
                                                  int maxWidth,
                                                  int maxHeight,
                                                  int turns,
                                                  image::PixelFormat format,
                                                  libav::ScalerPtr& scaler);

private:
    MovieDecoder() = default;

    // Declared first: the demuxer that reads through it closes before it goes.
    std::unique_ptr<ByteCacheInput> input_;
    libav::InputFormatPtr format_;
    libav::CodecContextPtr codec_;
    libav::PacketPtr packet_;
    libav::ScalerPtr scaler_;
    int stream_ = -1;
    bool draining_ = false;
    bool ended_ = false;
    // Set once a frame has been read: positioning at the start then needs a seek.
    bool moved_ = false;
    int64_t framesDecoded_ = 0;
};

}  // namespace pelmar::av::internal
