#pragma once

#include <cstdint>
#include <memory>

#include "pelmar/live/MediaFrame.h"

// RTMPPacket: one RTMP message: the frame's data is the message body, its PTS the message time in
// seconds, and a shared header record holds type, chunk stream, timestamps and message stream id.
// Ownership: copies share both the body and the header record, so header fields set by one stage
//            are seen through every copy.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::live {

// Chunk stream ids. The wire carries 2 to 65599; these are the ones the client sends on.
enum class RTMPChannel : uint32_t {
    Control = 2,  // protocol and user control messages
    Command = 3,  // connection commands
    Audio = 4,    // audio and stream metadata
    Video = 6,
    Stream = 8,  // stream commands (publish, unpublish)
};

// RTMP message type ids; other ids arrive from peers and are carried as they are.
enum class RTMPPacketType : uint8_t {
    SetChunkSize = 1,
    Abort = 2,
    Acknowledgement = 3,
    UserControl = 4,
    WindowAcknowledgementSize = 5,
    SetPeerBandwidth = 6,
    Audio = 8,
    Video = 9,
    Data = 18,     // AMF0 data (stream metadata)
    Command = 20,  // AMF0 command
};

class RTMPPacket : public MediaFrame {
public:
    struct RTMPPacketImplementation {
        RTMPPacketType packetType = RTMPPacketType::Audio;
        RTMPChannel channel = RTMPChannel::Audio;
        uint64_t timestamp = 0;       // milliseconds, absolute
        uint64_t timestampDelta = 0;  // milliseconds, as carried in the chunk header
        uint32_t messageStreamId = 0;
    };

    // Empty body; timestamp and delta 0.
    RTMPPacket(MediaType type,
               MediaCodec codec,
               RTMPChannel channel,
               RTMPPacketType packetType,
               uint32_t messageStreamId);

    RTMPPacketImplementation& Header() { return *header_; }

    const RTMPPacketImplementation& Header() const { return *header_; }

private:
    std::shared_ptr<RTMPPacketImplementation> header_;
};

}  // namespace pelmar::live
