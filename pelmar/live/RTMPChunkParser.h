#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pelmar/live/IReceiver.h"
#include "pelmar/live/MediaTransformer.h"
#include "pelmar/live/RTMPChunk.h"
#include "pelmar/live/RTMPPacket.h"

// RTMPChunkParser: rebuilds the RTMP messages of one incoming chunk stream from its chunks: each
// chunk's compressed header is completed from the previous message on the chunk stream, payloads
// are joined, and every complete message goes to the output receiver. Reads 1-, 2- and 3-byte
// basic headers and extended timestamps, on continuation chunks too.
// Ownership: holds its output receiver (std::shared_ptr), which gets each message within the
//            PutFrame call that completes it. Keeps only header values of the previous message.
// Threads: thread-compatible.
// Errors: std::runtime_error, thrown before any state changes: "wrong header size" (a chunk of
//         format 0, 1 or 2 while a message is incomplete; that message is kept), "truncated RTMP
//         chunk" (a chunk shorter than its header), "RTMP chunk payload exceeds message length",
//         "invalid chunk size" (SetChunkSize outside 1..kRTMPMaxChunkSize).
// Limits: a message is at most kMaxMessageLength bytes (16 MiB - 1, the 24-bit length field);
//         a message reserves at most kInitialReserve bytes until the peer has sent that much of
//         it, and its announced length only then.

namespace pelmar::live {

class RTMPChunkParser : public MediaTransformer<RTMPChunk, RTMPPacket> {
public:
    static constexpr size_t kMaxMessageLength = kRTMPMaxMessageLength;
    static constexpr size_t kInitialReserve = size_t{64} << 10;

    RTMPChunkParser(std::shared_ptr<IReceiver<RTMPPacket>> output, RTMPChannel channel);

    // Length in bytes of the basic header that starts with `firstByte`: 1, 2 or 3.
    static size_t BasicHeaderLength(uint8_t firstByte);

    // Length in bytes of the message header of `format`: 11, 7, 3 or 0.
    static size_t MessageHeaderLength(RTMPChunkHeaderSize format);

    // The peer's maximum payload bytes per chunk; 128 at construction.
    size_t ChunkSize() const { return chunkSize_; }

    void SetChunkSize(size_t chunkSize);

    // Payload length of the next chunk when its header states no length (format 2 or 3): the rest
    // of the incomplete message up to the chunk size, or else the previous message's length up to
    // the chunk size; 0 before any message.
    size_t GetNextChunkSize() const;

    // Whether a format-3 chunk on this chunk stream carries the 4-byte extended timestamp after its
    // basic header: true when the current (or, between messages, the previous) message had one.
    bool ExpectsExtendedTimestamp() const { return previous_.extended; }

    // Drops the incomplete message, if any (the peer's Abort Message); the next chunk starts a new
    // message, compressed against the dropped one's header.
    void AbortMessage();

    // A new, empty message (type 8, stream id 0) on the parser's channel.
    RTMPPacket CreateOutputFrame(RTMPChunk chunk) override;

    // Adds one complete chunk (basic header, message header, extended timestamp, payload) to the
    // message; kTransformIncomplete while it lacks payload, kTransformComplete when it is whole.
    int Transform(RTMPChunk chunk, RTMPPacket& message) override;

private:
    struct MessageHeader {
        RTMPPacketType packetType = RTMPPacketType::Audio;
        uint32_t messageStreamId = 0;
        uint64_t timestamp = 0;
        uint64_t delta = 0;
        size_t length = 0;
        bool extended = false;  // the header carried an extended timestamp
    };

    int StartNewMessage(RTMPChunk& chunk, RTMPPacket& message);

    int ContinueMessage(RTMPChunk& chunk, RTMPPacket& message);

    size_t chunkSize_ = kRTMPDefaultChunkSize;
    RTMPChannel channel_;
    int parserStatus_ = kTransformComplete;
    MessageHeader previous_;  // the last message started; the current one while incomplete
    size_t received_ = 0;
};

}  // namespace pelmar::live
