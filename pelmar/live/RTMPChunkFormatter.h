#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pelmar/live/IReceiver.h"
#include "pelmar/live/MediaTransformer.h"
#include "pelmar/live/RTMPChunk.h"
#include "pelmar/live/RTMPPacket.h"

// RTMPChunkFormatter: cuts the RTMP messages of one chunk stream into chunks with compressed
// headers, comparing each message with the previous one on the same chunk stream. A message never
// goes out with the 1-byte header right after one sent with the full header, because common
// servers read that as a zero timestamp delta; such a message gets the 4-byte header instead.
// Ownership: holds its output receiver (std::shared_ptr), which gets every chunk of a message, in
//            order, within the PutFrame call. Keeps only header values of the previous message.
// Threads: thread-compatible.
// Errors: std::runtime_error "invalid chunk stream id" (constructor, channel outside 2..65599),
//         "invalid chunk size" (SetChunkSize outside 1..kRTMPMaxChunkSize, size unchanged),
//         "RTMP message too long" (PutFrame with a body over kRTMPMaxMessageLength; nothing sent).
//         Exceptions of the output receiver propagate; the unfinished message is then abandoned
//         and the next message starts with a full header.

namespace pelmar::live {

class RTMPChunkFormatter : public MediaTransformer<RTMPPacket, RTMPChunk> {
public:
    RTMPChunkFormatter(std::shared_ptr<IReceiver<RTMPChunk>> output, RTMPChannel channel);

    // Maximum payload bytes per chunk; 128 at construction.
    size_t ChunkSize() const { return chunkSize_; }

    // Applies to every chunk formed afterwards, also in the middle of a message.
    void SetChunkSize(size_t chunkSize);

    // An empty chunk with header format 0.
    RTMPChunk CreateOutputFrame(RTMPPacket message) override;

    // Writes the next chunk of `message` into `chunk`. Sets the message's timestamp and delta in
    // its header record when the message starts. Callers set body, PTS, packet type and message
    // stream id before sending; the header record's channel is not used (the formatter's is).
    int Transform(RTMPPacket message, RTMPChunk& chunk) override;

    // Appends every chunk of `message` to `out`: the same bytes PutFrame hands to the output
    // receiver chunk by chunk, without a frame per chunk (for writers that send a message in one
    // piece). On failure `out` is left as it was. Throws "RTMP message in progress" when a
    // message given to PutFrame is unfinished.
    void AppendMessage(RTMPPacket message, std::vector<uint8_t>& out);

protected:
    void PutFrameImpl(RTMPPacket message) override;

private:
    struct PreviousMessage {
        uint64_t timestamp = 0;
        uint64_t delta = 0;
        size_t length = 0;  // 0: no message to compare with
        RTMPPacketType packetType = RTMPPacketType::Audio;
        uint32_t messageStreamId = 0;
        RTMPChunkHeaderSize format = RTMPChunkHeaderSize::Size12;
    };

    int StartNewMessage(RTMPPacket& message,
                        std::vector<uint8_t>& out,
                        RTMPChunkHeaderSize& chunkFormat);

    int ContinueMessage(RTMPPacket& message, std::vector<uint8_t>& out);

    int WritePayload(RTMPPacket& message,
                     std::vector<uint8_t>& data,
                     const uint8_t* header,
                     size_t headerLength);

    size_t WriteBasicHeader(uint8_t* out, RTMPChunkHeaderSize format) const;

    size_t chunkSize_ = kRTMPDefaultChunkSize;
    int formatterStatus_ = kTransformComplete;
    PreviousMessage previous_;
    size_t payloadOffset_ = 0;
    uint64_t currentDelta_ = 0;
    RTMPChannel channel_;
};

}  // namespace pelmar::live
