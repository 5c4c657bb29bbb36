#pragma once

#include <memory>

#include "pelmar/live/H264EncoderDelegate.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/PixelBufferPool.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// H264Encoder: encodes camera pictures (BGRA or ARGB pixel buffers) to H.264 for live streaming
// and hands each encoded frame to its delegate, ready for LiveStreamer::putVideoSample.
// Ownership: made by create() and held by shared_ptr; owns its encoding session; holds its
//            delegate weakly.
// Threads: thread-safe. Pictures are encoded one at a time in call order. Frames reach the
//          delegate one at a time and in encoding order, with none of the encoder's locks held,
//          so the delegate may call back into the encoder (or wait, for example while a
//          LiveStreamer waits for publishing to start) without holding up other threads that
//          put pictures in.
// Errors: a session that cannot be created (a side odd or outside 2..4096, framerate or bitrate
//         out of range, no libx264) prints "H.264 encoder initialization failed: <reason>"
//         (for an odd size: "unsupported size <width>x<height>") through foundation::Console,
//         so it reaches the host's LogSink; create() still returns an encoder, which ignores
//         pictures and has no pixelBufferPool(): a stream fed by it carries no video. Pictures
//         that cannot be encoded print "H.264 encoder: <reason>" and reach no delegate.
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
    // reaches the delegate before the call returns, unless another call (of another thread, or
    // of the delegate itself) is delivering frames at that moment: that call then delivers it,
    // right after the frames before it. A picture of another size is scaled to fit inside the
    // encoder's, its aspect kept and centred, with black borders on the sides it does not
    // reach. Cameras give portrait pictures by default (a capture connection's orientation
    // starts as portrait: 360 x 480 with the medium preset rather than 480 x 360), so a
    // landscape stream fed by them shows a narrower picture between borders unless the
    // connection is set to landscape or the encoder made portrait. Baseline profile, no B-frames, a
    // key frame every 2 x framerate frames (the first frame is one), average bit rate as given.
    void putCVPixelBuffer(const std::shared_ptr<media::PixelBuffer>& pixelBuffer,
                          media::Time timestamp);

    // BGRA pixel buffers of the encoder's size, reused once released, for pictures to hand to
    // putCVPixelBuffer; at most 8 out at once (the pool gives none beyond that).
    // Null when the session could not be created.
    std::shared_ptr<media::PixelBufferPool> pixelBufferPool() const;

    // Hands `sampleBuffer` to the delegate as if the encoder had made it, in order with the
    // frames it encodes. A null sample buffer is ignored.
    void signalCompressedData(std::shared_ptr<const media::SampleBuffer> sampleBuffer);

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
