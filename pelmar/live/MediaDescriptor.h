#pragma once

#include <cstdint>

// MediaDescriptor: the media type and codec of a MediaFrame, with their enumerations.
// Ownership: plain value.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::live {

enum class MediaType : uint32_t {
    None = 0,  // protocol and command messages, FLV file header and script tag
    Video = 1,
    Audio = 2,
};

enum class MediaCodec : uint32_t {
    None = 0,
    H264 = 1,
    AAC = 2,
};

struct MediaDescriptor {
    MediaType type = MediaType::None;
    MediaCodec codec = MediaCodec::None;

    friend bool operator==(const MediaDescriptor&, const MediaDescriptor&) = default;
};

}  // namespace pelmar::live
