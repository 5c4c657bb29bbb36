#include "pelmar/live/RTMPChunk.h"

namespace pelmar::live {

RTMPChunk::RTMPChunk() : MediaFrame(MediaType::None, MediaCodec::None) {}

}  // namespace pelmar::live
