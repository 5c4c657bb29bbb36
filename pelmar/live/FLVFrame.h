#pragma once

#include <cstdint>

#include "pelmar/live/MediaFrame.h"

// FLVFrame: one piece of an FLV byte stream: the 13-byte file header with PreviousTagSize0 (tag
// type 0), or one whole tag (11-byte tag header, body, 4-byte PreviousTagSize) of type 8 (audio),
// 9 (video) or 18 (script data). Its PTS is the tag's time in seconds.
// Ownership: as MediaFrame; the tag type is a handle field, copied with the handle.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::live {

inline constexpr uint8_t kFLVTagFileHeader = 0;
inline constexpr uint8_t kFLVTagAudio = 8;
inline constexpr uint8_t kFLVTagVideo = 9;
inline constexpr uint8_t kFLVTagScriptData = 18;

// Bytes of an FLV tag header, and of the PreviousTagSize field after each tag.
inline constexpr size_t kFLVTagHeaderLength = 11;
inline constexpr size_t kFLVPreviousTagSizeLength = 4;

class FLVFrame : public MediaFrame {
public:
    // Empty data, PTS 0.0, not a key frame.
    FLVFrame(MediaType type, MediaCodec codec, uint8_t tagType);

    uint8_t TagType() const { return tagType_; }

    void SetTagType(uint8_t tagType) { tagType_ = tagType; }

private:
    uint8_t tagType_;
};

}  // namespace pelmar::live
