#pragma once

#include <memory>

#include "pelmar/platform/media/SampleBuffer.h"

// H264EncoderDelegate: receives every frame an H264Encoder has encoded.
// Ownership: held weakly by the encoder; a delegate that is gone gets nothing.
// Threads: called on the thread that handed the encoder the picture (or on the thread already
//          delivering frames when calls overlap), one frame at a time and in order, with no lock
//          of the encoder held: it may call back into the encoder.
// Errors: none; failed frames are never delivered.

namespace pelmar::live {

class H264EncoderDelegate {
public:
    virtual ~H264EncoderDelegate() = default;

    // One encoded frame: NAL units with 4-byte big-endian lengths, the picture's presentation
    // time, the key-frame flag, and the SPS and PPS in its format description.
    virtual void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) = 0;
};

}  // namespace pelmar::live
