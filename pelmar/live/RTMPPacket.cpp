#include "pelmar/live/RTMPPacket.h"

namespace pelmar::live {

RTMPPacket::RTMPPacket(MediaType type,
                       MediaCodec codec,
                       RTMPChannel channel,
                       RTMPPacketType packetType,
                       uint32_t messageStreamId)
    : MediaFrame(type, codec),
      header_(std::make_shared<RTMPPacketImplementation>(
              RTMPPacketImplementation{packetType, channel, 0, 0, messageStreamId})) {}

}  // namespace pelmar::live
