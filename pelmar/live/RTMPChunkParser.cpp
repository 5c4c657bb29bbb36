#include "pelmar/live/RTMPChunkParser.h"

#include <algorithm>
#include <stdexcept>

#include "pelmar/live/BitstreamReader.h"

namespace pelmar::live {

namespace {

RTMPChunkHeaderSize FormatOf(uint8_t firstByte) {
    return static_cast<RTMPChunkHeaderSize>(firstByte >> 6);
}

[[noreturn]] void ThrowTruncated() {
    throw std::runtime_error("truncated RTMP chunk");
}

// Appends the payload that starts at `offset` of the chunk to a body of `length` bytes.
void AppendPayload(const std::vector<uint8_t>& chunkData,
                   size_t offset,
                   std::vector<uint8_t>& body,
                   size_t length) {
    const auto first = chunkData.begin() + static_cast<std::ptrdiff_t>(offset);
    if (body.size() + (chunkData.size() - offset) > body.capacity()) {
        // The peer sent more than the initial window: now the announced length is worth holding,
        // in one allocation rather than by repeated growth.
        body.reserve(length);
    }
    BitstreamWriter writer(body);
    writer.SeekToEnd();
    writer.PutBytes(first, chunkData.end());
}

}  // namespace

RTMPChunkParser::RTMPChunkParser(std::shared_ptr<IReceiver<RTMPPacket>> output, RTMPChannel channel)
    : MediaTransformer(std::move(output)), channel_(channel) {}

size_t RTMPChunkParser::BasicHeaderLength(uint8_t firstByte) {
    switch (firstByte & 0x3F) {
        case 0:
            return 2;
        case 1:
            return 3;
        default:
            return 1;
    }
}

size_t RTMPChunkParser::MessageHeaderLength(RTMPChunkHeaderSize format) {
    switch (format) {
        case RTMPChunkHeaderSize::Size12:
            return 11;
        case RTMPChunkHeaderSize::Size8:
            return 7;
        case RTMPChunkHeaderSize::Size4:
            return 3;
        case RTMPChunkHeaderSize::Size1:
            break;
    }
    return 0;
}

void RTMPChunkParser::SetChunkSize(size_t chunkSize) {
    if (chunkSize == 0 || chunkSize > kRTMPMaxChunkSize) {
        throw std::runtime_error("invalid chunk size");
    }
    chunkSize_ = chunkSize;
}

void RTMPChunkParser::AbortMessage() {
    parserStatus_ = kTransformComplete;
    // The transformer then starts a fresh output frame with the next chunk.
    status_ = kTransformComplete;
    received_ = 0;
}

size_t RTMPChunkParser::GetNextChunkSize() const {
    if (parserStatus_ == kTransformIncomplete) {
        return std::min(chunkSize_, previous_.length - received_);
    }
    return std::min(previous_.length, chunkSize_);
}

RTMPPacket RTMPChunkParser::CreateOutputFrame(RTMPChunk) {
    return RTMPPacket(MediaType::None, MediaCodec::None, channel_, RTMPPacketType::Audio, 0);
}

int RTMPChunkParser::Transform(RTMPChunk chunk, RTMPPacket& message) {
    parserStatus_ = parserStatus_ == kTransformIncomplete ? ContinueMessage(chunk, message)
                                                          : StartNewMessage(chunk, message);
    return parserStatus_;
}

int RTMPChunkParser::StartNewMessage(RTMPChunk& chunk, RTMPPacket& message) {
    const auto& data = chunk.Data();
    if (data.empty()) {
        ThrowTruncated();
    }
    const RTMPChunkHeaderSize format = FormatOf(data[0]);
    const size_t basicLength = BasicHeaderLength(data[0]);
    if (data.size() < basicLength + MessageHeaderLength(format)) {
        ThrowTruncated();
    }

    // Fields the header leaves out repeat those of the previous message on this chunk stream.
    MessageHeader next = previous_;
    BitstreamReader reader(data);
    reader.Skip(basicLength);
    if (format != RTMPChunkHeaderSize::Size1) {
        next.delta = reader.GetBits(24);
        next.extended = next.delta == kRTMPExtendedTimestampMarker;
    }
    if (format == RTMPChunkHeaderSize::Size12 || format == RTMPChunkHeaderSize::Size8) {
        next.length = static_cast<size_t>(reader.GetBits(24));
        next.packetType = static_cast<RTMPPacketType>(reader.GetByte());
    }
    if (format == RTMPChunkHeaderSize::Size12) {
        uint32_t streamId = 0;
        for (unsigned i = 0; i < 4; ++i) {
            streamId |= static_cast<uint32_t>(reader.GetByte()) << (8 * i);
        }
        next.messageStreamId = streamId;
    }
    if (next.extended) {
        if (reader.RemainingDataSize() < 4) {
            ThrowTruncated();
        }
        next.delta = reader.GetBits(32);
    }
    next.timestamp =
            format == RTMPChunkHeaderSize::Size12 ? next.delta : previous_.timestamp + next.delta;
    const size_t payload = reader.RemainingDataSize();
    if (payload > next.length) {
        throw std::runtime_error("RTMP chunk payload exceeds message length");
    }

    chunk.SetHeaderFormat(format);
    previous_ = next;
    received_ = payload;
    auto& header = message.Header();
    header.packetType = next.packetType;
    header.messageStreamId = next.messageStreamId;
    header.timestamp = next.timestamp;
    header.timestampDelta = next.delta;
    message.SetPTS(static_cast<double>(next.timestamp) / 1000.0);
    auto& body = message.Data();
    body.clear();
    body.reserve(std::min(next.length, kInitialReserve));
    AppendPayload(data, reader.Position(), body, next.length);
    return received_ == next.length ? kTransformComplete : kTransformIncomplete;
}

int RTMPChunkParser::ContinueMessage(RTMPChunk& chunk, RTMPPacket& message) {
    const auto& data = chunk.Data();
    if (data.empty()) {
        ThrowTruncated();
    }
    const RTMPChunkHeaderSize format = FormatOf(data[0]);
    if (format != RTMPChunkHeaderSize::Size1) {
        throw std::runtime_error("wrong header size");
    }
    const size_t headerLength = BasicHeaderLength(data[0]) + (previous_.extended ? 4 : 0);
    if (data.size() < headerLength) {
        ThrowTruncated();
    }
    const size_t payload = data.size() - headerLength;
    if (payload > previous_.length - received_) {
        throw std::runtime_error("RTMP chunk payload exceeds message length");
    }
    chunk.SetHeaderFormat(format);
    received_ += payload;
    AppendPayload(data, headerLength, message.Data(), previous_.length);
    return received_ == previous_.length ? kTransformComplete : kTransformIncomplete;
}

}  // namespace pelmar::live
