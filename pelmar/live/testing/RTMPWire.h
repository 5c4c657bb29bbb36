#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPChunkFormatter.h"
#include "pelmar/live/RTMPChunkParser.h"
#include "pelmar/live/RTMPPacket.h"
#include "pelmar/live/testing/LoopbackPeer.h"

// RTMP wire helpers for tests: a reader that takes the chunks a client writes from a LoopbackPeer
// and rebuilds its messages (noting whether chunks of different messages were interleaved, and
// following the client's Set Chunk Size), and a
// writer that turns messages into chunk bytes for the peer to send, with any chunk size.
// Ownership: the reader refers to the peer, which must outlive it.
// Threads: thread-compatible.
// Errors: the peer's and the chunk parser's exceptions.

namespace pelmar::test {

class RTMPWireReader {
public:
    explicit RTMPWireReader(LoopbackPeer& peer, size_t chunkSize = live::kRTMPDefaultChunkSize)
        : peer_(peer), chunkSize_(chunkSize) {}

    // The next complete message.
    live::RTMPPacket ReadMessage() {
        while (messages_.empty()) {
            ReadChunk();
        }
        auto message = messages_.front();
        messages_.pop_front();
        return message;
    }

    // True when a chunk of one message arrived while another message was incomplete.
    bool Interleaved() const { return interleaved_; }

    // Bytes read so far.
    uint64_t BytesRead() const { return bytesRead_; }

    // The sender's chunk size: the one given at construction until a Set Chunk Size arrives.
    size_t ChunkSize() const { return chunkSize_; }

private:
    void ReadChunk() {
        std::vector<uint8_t> chunk = Take(1);
        const size_t basic = live::RTMPChunkParser::BasicHeaderLength(chunk[0]);
        Append(chunk, basic - 1);
        uint32_t channel = chunk[0] & 0x3F;
        if (basic == 2) {
            channel = 64 + uint32_t{chunk[1]};
        } else if (basic == 3) {
            channel = 64 + uint32_t{chunk[1]} + 256 * uint32_t{chunk[2]};
        }
        const auto format = static_cast<live::RTMPChunkHeaderSize>(chunk[0] >> 6);
        auto& parser = parsers_[channel];
        if (!parser) {
            parser = std::make_unique<live::RTMPChunkParser>(
                    std::make_shared<live::MediaCallback<live::RTMPPacket>>(
                            [this](live::RTMPPacket p) { messages_.push_back(p); }),
                    static_cast<live::RTMPChannel>(channel));
            parser->SetChunkSize(chunkSize_);
        }
        const size_t messageHeader = live::RTMPChunkParser::MessageHeaderLength(format);
        const size_t at = chunk.size();
        Append(chunk, messageHeader);
        size_t payload = parser->GetNextChunkSize();
        bool extended = parser->ExpectsExtendedTimestamp();
        if (messageHeader > 0) {
            extended = (uint32_t{chunk[at]} << 16 | uint32_t{chunk[at + 1]} << 8 | chunk[at + 2])
                       == 0xFFFFFF;
        }
        if (messageHeader >= 7) {
            const size_t length =
                    uint32_t{chunk[at + 3]} << 16 | uint32_t{chunk[at + 4]} << 8 | chunk[at + 5];
            payload = std::min(length, chunkSize_);
        }
        if (extended) {
            Append(chunk, 4);
        }
        Append(chunk, payload);
        if (incompleteChannel_ >= 0 && static_cast<uint32_t>(incompleteChannel_) != channel) {
            interleaved_ = true;
        }
        live::RTMPChunk frame;
        frame.SetHeaderFormat(format);
        frame.Data() = std::move(chunk);
        const size_t before = messages_.size();
        parser->PutFrame(frame);
        incompleteChannel_ = messages_.size() == before ? static_cast<int64_t>(channel) : -1;
        if (messages_.size() > before) {
            FollowChunkSize(messages_.back());
        }
    }

    // A Set Chunk Size from the sender applies to its chunks after it, on every chunk stream.
    void FollowChunkSize(const live::RTMPPacket& message) {
        const auto& body = message.Data();
        if (message.Header().packetType != live::RTMPPacketType::SetChunkSize || body.size() < 4) {
            return;
        }
        chunkSize_ = (uint32_t{body[0]} << 24 | uint32_t{body[1]} << 16 | uint32_t{body[2]} << 8
                      | body[3])
                     & 0x7FFFFFFF;
        for (auto& [id, parser] : parsers_) {
            parser->SetChunkSize(chunkSize_);
        }
    }

    std::vector<uint8_t> Take(size_t n) {
        bytesRead_ += n;
        return n == 0 ? std::vector<uint8_t>{} : peer_.Read(n);
    }

    void Append(std::vector<uint8_t>& to, size_t n) {
        const auto more = Take(n);
        to.insert(to.end(), more.begin(), more.end());
    }

    LoopbackPeer& peer_;
    size_t chunkSize_;
    std::map<uint32_t, std::unique_ptr<live::RTMPChunkParser>> parsers_;
    std::deque<live::RTMPPacket> messages_;
    int64_t incompleteChannel_ = -1;
    bool interleaved_ = false;
    uint64_t bytesRead_ = 0;
};

// Chunk bytes of messages on one chunk stream, as a peer with `chunkSize` would send them.
class RTMPWireWriter {
public:
    explicit RTMPWireWriter(live::RTMPChannel channel, size_t chunkSize = 128)
        : formatter_(
                std::make_shared<live::MediaCallback<live::RTMPChunk>>([this](live::RTMPChunk c) {
                    bytes_.insert(bytes_.end(), c.Data().begin(), c.Data().end());
                }),
                channel) {
        formatter_.SetChunkSize(chunkSize);
    }

    void SetChunkSize(size_t chunkSize) { formatter_.SetChunkSize(chunkSize); }

    std::vector<uint8_t> Bytes(live::RTMPPacketType type,
                               std::vector<uint8_t> body,
                               double pts = 0.0,
                               uint32_t messageStreamId = 0) {
        live::RTMPPacket packet(live::MediaType::None, live::MediaCodec::None,
                                live::RTMPChannel::Audio, type, messageStreamId);
        packet.Data() = std::move(body);
        packet.SetPTS(pts);
        bytes_.clear();
        formatter_.PutFrame(packet);
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
    live::RTMPChunkFormatter formatter_;
};

}  // namespace pelmar::test
