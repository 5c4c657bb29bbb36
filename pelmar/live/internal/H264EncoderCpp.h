#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "pelmar/live/internal/OrderedDelivery.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/media/FormatDescription.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/PixelBufferPool.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// H264EncoderCpp: the H.264 compression session behind H264Encoder: converts BGRA or ARGB pictures
// to I420 and encodes them with libx264 (Baseline profile, no B-frames, a key frame every 2 x fps
// frames, zero-latency tuning, average bit rate).
// Ownership: owns the libavcodec and libswscale state and the output function.
// Threads: thread-safe. One mutex serialises the encoding; the output function runs after it is
//          released, one frame at a time and in encoding order (OrderedDelivery), so it may call
//          back into this encoder.
// Errors: a session that cannot be created (a side odd or outside 2..kMaxDimension, fps outside
//         1..kMaxFrameRate, bitrate outside 1..kMaxBitrate, no libx264) prints
//         "H.264 encoder initialization failed: <reason>" (foundation::Console, so the log sink)
//         and leaves the encoder inert. A picture it cannot take or a frame libx264 fails on
//         prints "H.264 encoder: <reason>" and yields no output; the output function never sees
//         an empty or failed frame.
// Limits: kMaxDimension per side, kMaxFrameRate, kMaxBitrate; kPixelBufferPoolSize pictures out of
//         pixelBufferPool() at once.

namespace pelmar::live::internal {

class H264EncoderCpp {
public:
    using Output = std::function<void(std::shared_ptr<const media::SampleBuffer>)>;

    static constexpr int kMaxDimension = 4096;
    static constexpr int kMaxFrameRate = 240;
    static constexpr int kMaxBitrate = 200'000'000;
    static constexpr int kPixelBufferPoolSize = 8;

    // `bitrate` in bits per second.
    H264EncoderCpp(int width, int height, int bitrate, int fps, Output output);

    ~H264EncoderCpp();

    H264EncoderCpp(const H264EncoderCpp&) = delete;
    H264EncoderCpp& operator=(const H264EncoderCpp&) = delete;

    // Whether the session was created.
    bool isValid() const;

    // Encodes one picture (of another size: scaled to fit inside the session's, its aspect kept,
    // centred between black borders); its encoded frame
    // reaches the output before the call returns (unless another call is delivering at the time,
    // which then hands it over next), as a sample buffer: its NAL units with 4-byte
    // big-endian lengths, the picture's presentation time, a duration of 1/fps, the key-frame
    // flag and a format description holding the SPS and PPS.
    void putFrame(const std::shared_ptr<media::PixelBuffer>& pixelBuffer, media::Time pts);

    // BGRA pictures of the session's size for putFrame, reused once released; null without a
    // session.
    std::shared_ptr<media::PixelBufferPool> pixelBufferPool() const;

    // Hands an encoded frame to the output function, in order with the frames the session
    // delivers; a null sample buffer is ignored.
    void signalCompressedData(std::shared_ptr<const media::SampleBuffer> sampleBuffer);

private:
    void initCompressionSession();

    // Where a picture of `width` x `height` goes in the session's picture: the largest
    // rectangle of its aspect that fits, centred.
    struct Fit {
        int x;
        int y;
        int width;
        int height;
    };

    Fit fitInside(int width, int height) const;

    // Scales the caller's picture (source_) into fit_ of picture_, the rest black; an FFmpeg
    // status.
    int scaleIntoFit() PELMAR_REQUIRES(mutex_);

    void encode(const std::shared_ptr<media::PixelBuffer>& pixelBuffer, media::Time pts);

    void drainPackets() PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    libav::CodecContextPtr context_
            PELMAR_GUARDED_BY(mutex_);  // null when the session could not be created
    libav::ScalerPtr scaler_ PELMAR_GUARDED_BY(mutex_);  // for pictures of the three values below
    int scalerWidth_ PELMAR_GUARDED_BY(mutex_) = 0;
    int scalerHeight_ PELMAR_GUARDED_BY(mutex_) = 0;
    AVPixelFormat scalerFormat_ PELMAR_GUARDED_BY(mutex_) = AV_PIX_FMT_NONE;
    Fit fit_ PELMAR_GUARDED_BY(mutex_) = {};             // where the scaler's output goes
    libav::FramePtr picture_ PELMAR_GUARDED_BY(mutex_);  // the I420 picture handed to libx264
    libav::FramePtr source_ PELMAR_GUARDED_BY(mutex_);   // wraps the caller's pixels during a call
    libav::FramePtr fitted_ PELMAR_GUARDED_BY(mutex_);   // fit_ of picture_, during a call
    libav::PacketPtr packet_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<media::PixelBufferPool> pool_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<const media::FormatDescription> format_ PELMAR_GUARDED_BY(mutex_);
    // Presentation times of pictures handed to libx264 and not yet back, by frame number.
    std::deque<std::pair<int64_t, media::Time>> inFlight_ PELMAR_GUARDED_BY(mutex_);
    int64_t frameNumber_ PELMAR_GUARDED_BY(mutex_) = 0;
    const int width_;
    const int height_;
    const int bitrate_;
    const int fps_;
    OrderedDelivery<std::shared_ptr<const media::SampleBuffer>> delivery_;
};

}  // namespace pelmar::live::internal
