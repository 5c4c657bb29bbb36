#pragma once

#include <memory>

#include "pelmar/live/H264EncoderDelegate.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// H264Encoder: encodes camera pictures (BGRA or ARGB pixel buffers) to H.264 for live streaming
// and hands each encoded frame to its delegate, ready for LiveStreamer::putVideoSample.
// Ownership: made by create() and held by shared_ptr; owns its encoding session; holds its
//            delegate weakly.
// Threads: thread-safe. Pictures are encoded one at a time in call order; the delegate runs on the
//          calling thread while the encoder's lock is held, so it must not call back into the
//          same encoder.
// Errors: a session that cannot be created (odd or oversized sides, framerate or bitrate out of
//         range) prints one line to standard output; the encoder is still returned and ignores
//         pictures. Pictures that cannot be encoded print one line and reach no delegate.
// Limits: sides 2..4096 and even, framerate 1..240, bitrate 1..200,000,000 bits per second.

namespace pelmar::live {

namespace internal {
class H264EncoderCpp;
}

class H264Encoder {
public:
    // `bitrate` in bits per second, `framerate` in frames per second. Never null.
    static std::shared_ptr<H264Encoder> create(int width, int height, int bitrate, int framerate);

    ~H264Encoder();

    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Encodes one picture shown at `timestamp`; the encoded frame carries that time unchanged and
    // reaches the delegate before the call returns. A picture of another size is scaled to the
    // encoder's. Baseline profile, no B-frames, a key frame every 2 x framerate frames (the first
    // frame is one), average bit rate as given.
    void putCVPixelBuffer(const std::shared_ptr<media::PixelBuffer>& pixelBuffer,
                          media::Time timestamp);

    std::shared_ptr<H264EncoderDelegate> delegate() const;

    void setDelegate(std::weak_ptr<H264EncoderDelegate> delegate);

private:
    H264Encoder() = default;

    void deliver(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer);

    mutable Mutex delegateMutex_;
    std::weak_ptr<H264EncoderDelegate> delegate_ PELMAR_GUARDED_BY(delegateMutex_);
    std::unique_ptr<internal::H264EncoderCpp> impl_;
};

}  // namespace pelmar::live
