#pragma once

#include <optional>

// FLVMetadata: what the onMetaData script tag of an FLV stream says about its tracks. A value left
// empty is written with the conventional default (1920 x 1080, 30 frames/s, 3000 kbit/s video;
// 44100 Hz stereo, 64 kbit/s audio).
// Ownership: plain value.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::live {

struct FLVMetadata {
    std::optional<double> width;            // pixels
    std::optional<double> height;           // pixels
    std::optional<double> frameRate;        // frames per second
    std::optional<double> videoDataRate;    // kbit/s
    std::optional<double> audioSampleRate;  // Hz
    std::optional<double> audioDataRate;    // kbit/s
    std::optional<bool> stereo;
};

}  // namespace pelmar::live
