#include "pelmar/live/RTMPChunkFormatter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pelmar::live {

namespace {

// Basic header, message header and extended timestamp at their longest.
constexpr size_t kMaxHeaderLength = 3 + 11 + 4;

// Milliseconds of the PTS, truncated and kept to 31 bits; negative or non-finite times give 0.
// Floating-point error just below a whole millisecond (0.28 s is 279.99999999999997 ms) counts
// as the whole millisecond, so frame times such as k * 0.04 s keep their exact steps.
uint64_t TimestampFromPTS(double pts) {
    const double ms = std::floor(pts * 1000.0 + 1e-6);
    if (!std::isfinite(ms) || ms <= 0.0) {
        return 0;
    }
    // fmod on an integral double is exact, so this equals masking the full integer with 0x7FFFFFFF
    // without converting values beyond the range of uint64_t.
    return static_cast<uint64_t>(std::fmod(ms, 2147483648.0));
}

void PutBigEndian(uint8_t* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
}

}  // namespace

RTMPChunkFormatter::RTMPChunkFormatter(std::shared_ptr<IReceiver<RTMPChunk>> output,
                                       RTMPChannel channel)
    : MediaTransformer(std::move(output)), channel_(channel) {
    const auto id = static_cast<uint32_t>(channel);
    if (id < kRTMPMinChannel || id > kRTMPMaxChannel) {
        throw std::runtime_error("invalid chunk stream id");
    }
}

void RTMPChunkFormatter::SetChunkSize(size_t chunkSize) {
    if (chunkSize == 0 || chunkSize > kRTMPMaxChunkSize) {
        throw std::runtime_error("invalid chunk size");
    }
    chunkSize_ = chunkSize;
}

RTMPChunk RTMPChunkFormatter::CreateOutputFrame(RTMPPacket) {
    return RTMPChunk();
}

int RTMPChunkFormatter::Transform(RTMPPacket message, RTMPChunk& chunk) {
    auto format = RTMPChunkHeaderSize::Size1;
    formatterStatus_ = formatterStatus_ == kTransformCompleteMore
                               ? ContinueMessage(message, chunk.Data())
                               : StartNewMessage(message, chunk.Data(), format);
    chunk.SetHeaderFormat(format);
    return formatterStatus_;
}

void RTMPChunkFormatter::AppendMessage(RTMPPacket message, std::vector<uint8_t>& out) {
    if (formatterStatus_ == kTransformCompleteMore) {
        throw std::runtime_error("RTMP message in progress");
    }
    const size_t before = out.size();
    try {
        auto format = RTMPChunkHeaderSize::Size1;
        formatterStatus_ = StartNewMessage(message, out, format);
        while (formatterStatus_ == kTransformCompleteMore) {
            formatterStatus_ = ContinueMessage(message, out);
        }
    } catch (...) {
        out.resize(before);
        formatterStatus_ = kTransformComplete;
        payloadOffset_ = 0;
        previous_ = PreviousMessage{};
        throw;
    }
}

void RTMPChunkFormatter::PutFrameImpl(RTMPPacket message) {
    try {
        MediaTransformer::PutFrameImpl(message);
    } catch (...) {
        // The peer holds part of a message, or a message we can no longer compare against: the
        // next message must not continue or compress against it.
        formatterStatus_ = kTransformComplete;
        payloadOffset_ = 0;
        previous_ = PreviousMessage{};
        throw;
    }
}

int RTMPChunkFormatter::StartNewMessage(RTMPPacket& message,
                                        std::vector<uint8_t>& out,
                                        RTMPChunkHeaderSize& chunkFormat) {
    const size_t length = message.Data().size();
    if (length > kRTMPMaxMessageLength) {
        throw std::runtime_error("RTMP message too long");
    }
    auto& header = message.Header();
    const uint64_t timestamp = TimestampFromPTS(message.PTS());
    uint64_t delta = timestamp;
    auto format = RTMPChunkHeaderSize::Size12;
    if (previous_.length > 0 && timestamp > previous_.timestamp
        && header.messageStreamId == previous_.messageStreamId) {
        format = RTMPChunkHeaderSize::Size8;
        delta = timestamp - previous_.timestamp;
        if (header.packetType == previous_.packetType && length == previous_.length) {
            // After a full header the stored delta is an absolute time, which servers do not
            // reuse as a delta for a following 1-byte header: state the delta explicitly.
            format = delta == previous_.delta && previous_.format != RTMPChunkHeaderSize::Size12
                             ? RTMPChunkHeaderSize::Size1
                             : RTMPChunkHeaderSize::Size4;
        }
    }
    header.timestamp = timestamp;
    header.timestampDelta = delta;

    uint8_t bytes[kMaxHeaderLength];
    size_t n = WriteBasicHeader(bytes, format);
    if (format != RTMPChunkHeaderSize::Size1) {
        PutBigEndian(bytes + n, std::min(delta, kRTMPExtendedTimestampMarker), 3);
        n += 3;
    }
    if (format == RTMPChunkHeaderSize::Size12 || format == RTMPChunkHeaderSize::Size8) {
        PutBigEndian(bytes + n, length, 3);
        bytes[n + 3] = static_cast<uint8_t>(header.packetType);
        n += 4;
    }
    if (format == RTMPChunkHeaderSize::Size12) {
        for (size_t i = 0; i < 4; ++i) {
            bytes[n + i] = static_cast<uint8_t>(header.messageStreamId >> (8 * i));
        }
        n += 4;
    }
    if (delta >= kRTMPExtendedTimestampMarker) {
        PutBigEndian(bytes + n, delta, 4);
        n += 4;
    }

    chunkFormat = format;
    payloadOffset_ = 0;
    currentDelta_ = delta;
    previous_ = PreviousMessage{timestamp, delta, length, header.packetType, header.messageStreamId,
                                format};
    return WritePayload(message, out, bytes, n);
}

int RTMPChunkFormatter::ContinueMessage(RTMPPacket& message, std::vector<uint8_t>& out) {
    uint8_t bytes[kMaxHeaderLength];
    size_t n = WriteBasicHeader(bytes, RTMPChunkHeaderSize::Size1);
    if (currentDelta_ >= kRTMPExtendedTimestampMarker) {
        PutBigEndian(bytes + n, currentDelta_, 4);
        n += 4;
    }
    return WritePayload(message, out, bytes, n);
}

int RTMPChunkFormatter::WritePayload(RTMPPacket& message,
                                     std::vector<uint8_t>& data,
                                     const uint8_t* header,
                                     size_t headerLength) {
    const auto& body = message.Data();
    const size_t offset = std::min(payloadOffset_, body.size());
    const size_t n = std::min(chunkSize_, body.size() - offset);
    if (data.capacity() < data.size() + headerLength + n) {
        // Grows geometrically: AppendMessage adds many chunks to one buffer.
        data.reserve(std::max(data.capacity() * 2, data.size() + headerLength + n));
    }
    BitstreamWriter writer(data);
    writer.SeekToEnd();
    writer.PutBytes(header, header + headerLength);
    const auto first = body.begin() + static_cast<std::ptrdiff_t>(offset);
    writer.PutBytes(first, first + static_cast<std::ptrdiff_t>(n));
    payloadOffset_ = offset + n;
    return payloadOffset_ < body.size() ? kTransformCompleteMore : kTransformComplete;
}

size_t RTMPChunkFormatter::WriteBasicHeader(uint8_t* out, RTMPChunkHeaderSize format) const {
    const auto formatBits = static_cast<uint8_t>(static_cast<unsigned>(format) << 6);
    const auto id = static_cast<uint32_t>(channel_);
    if (id < 64) {
        out[0] = static_cast<uint8_t>(formatBits | id);
        return 1;
    }
    if (id < 64 + 256) {
        out[0] = formatBits;
        out[1] = static_cast<uint8_t>(id - 64);
        return 2;
    }
    out[0] = static_cast<uint8_t>(formatBits | 1);
    out[1] = static_cast<uint8_t>((id - 64) & 0xFF);
    out[2] = static_cast<uint8_t>((id - 64) >> 8);
    return 3;
}

}  // namespace pelmar::live
