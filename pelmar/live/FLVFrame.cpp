#include "pelmar/live/FLVFrame.h"

namespace pelmar::live {

FLVFrame::FLVFrame(MediaType type, MediaCodec codec, uint8_t tagType)
    : MediaFrame(type, codec), tagType_(tagType) {}

}  // namespace pelmar::live
