#pragma once

#include <cstdint>
#include <span>

#include "pelmar/platform/media/Time.h"

// AACEncoderDelegate: receives every packet an AACEncoder has encoded.
// Ownership: held weakly by the encoder; a delegate that is gone gets nothing.
// Threads: called on the thread that handed the encoder its input (or on the thread already
//          delivering packets when calls overlap), one packet at a time and in order, with no
//          lock of the encoder held: it may call back into the encoder.
// Errors: none; failed packets are never delivered.

namespace pelmar::live {

class AACEncoderDelegate {
public:
    virtual ~AACEncoderDelegate() = default;

    // One raw AAC packet of 1024 frames, the stream's AudioSpecificConfig and the packet's
    // presentation time. The bytes are valid for the duration of the call only.
    virtual void compressedAudioDataReceived(std::span<const uint8_t> data,
                                             std::span<const uint8_t> asc,
                                             media::Time pts) = 0;
};

}  // namespace pelmar::live
