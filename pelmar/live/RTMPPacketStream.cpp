#include "pelmar/live/RTMPPacketStream.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPChunk.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live {

namespace {

constexpr auto kReceiverPollInterval = std::chrono::milliseconds(100);

constexpr auto kAbortMessage = static_cast<uint8_t>(RTMPPacketType::Abort);
constexpr auto kWindowAcknowledgementSize =
        static_cast<uint8_t>(RTMPPacketType::WindowAcknowledgementSize);
constexpr auto kSetPeerBandwidth = static_cast<uint8_t>(RTMPPacketType::SetPeerBandwidth);

std::vector<uint8_t> BigEndian32(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

uint32_t ReadBigEndian(const uint8_t* p, size_t bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

uint32_t Read32(const std::vector<uint8_t>& body) {
    return ReadBigEndian(body.data(), 4);
}

}  // namespace

RTMPPacketStream::RTMPPacketStream(NetworkConnection& connection,
                                   std::shared_ptr<IReceiver<RTMPPacket>> packetReceiver,
                                   ErrorCallback onReceiverError)
    : connection_(connection),
      packetReceiver_(std::move(packetReceiver)),
      onReceiverError_(std::move(onReceiverError)),
      incomingSink_(std::make_shared<MediaCallback<RTMPPacket>>(
              [this](RTMPPacket packet) { OnIncomingMessage(packet); })) {
    receiver_ = std::thread([this] { ReceiverProc(); });
}

RTMPPacketStream::~RTMPPacketStream() {
    try {
        CloseImpl();
    } catch (...) {
        // Nothing in closing is expected to throw; a destructor must not.
    }
}

void RTMPPacketStream::SetChunkSize(unsigned long n) {
    if (n == 0 || n > kMaxIncomingChunkSize) {
        throw std::runtime_error("invalid chunk size");
    }
    chunkSize_.store(n);
}

void RTMPPacketStream::AnnounceWindowAcknowledgementSize(uint32_t size) {
    RTMPPacket message(MediaType::None, MediaCodec::None, RTMPChannel::Control,
                       RTMPPacketType::WindowAcknowledgementSize, 0);
    message.Data() = BigEndian32(size);
    {
        MutexLock lock(sendMutex_);
        announcedWindow_ = size;
    }
    PutFrame(message);
}

bool RTMPPacketStream::ReceiverRunning() const {
    MutexLock lock(doneMutex_);
    return !receiverDone_;
}

bool RTMPPacketStream::WaitForReceiverEnd(std::chrono::milliseconds timeout) const {
    MutexLock lock(doneMutex_);
    if (receiverId_.load() == std::this_thread::get_id()) {
        return receiverDone_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!receiverDone_ && doneChanged_.waitUntil(doneMutex_, deadline)) {
    }
    return receiverDone_;
}

size_t RTMPPacketStream::OutgoingChunkSize() const {
    MutexLock lock(sendMutex_);
    return outgoingChunkSize_;
}

void RTMPPacketStream::AnnounceChunkSize(uint32_t size) {
    if (size == 0 || size > kMaxIncomingChunkSize) {
        throw std::runtime_error("invalid chunk size");
    }
    RTMPPacket message(MediaType::None, MediaCodec::None, RTMPChannel::Control,
                       RTMPPacketType::SetChunkSize, 0);
    message.Data() = BigEndian32(size);
    MutexLock lock(sendMutex_);
    SendLocked(message);
    // The peer reads with the new size from the chunk after the announcement on.
    outgoingChunkSize_ = size;
    for (auto& [channel, formatter] : outgoing_) {
        formatter->SetChunkSize(size);
    }
}

void RTMPPacketStream::PutFrameImpl(RTMPPacket packet) {
    MutexLock lock(sendMutex_);
    SendLocked(packet);
}

void RTMPPacketStream::SendLocked(const RTMPPacket& packet) {
    if (sendFailed_) {
        throw std::runtime_error("network send data failed");
    }
    const auto channel = static_cast<uint32_t>(packet.Header().channel);
    auto& formatter = outgoing_[channel];
    if (!formatter) {
        try {
            formatter = std::make_unique<RTMPChunkFormatter>(nullptr, packet.Header().channel);
            formatter->SetChunkSize(outgoingChunkSize_);
        } catch (...) {
            outgoing_.erase(channel);
            throw;
        }
        foundation::Console::print("channel created: " + std::to_string(channel));
    }
    // All chunks of a message are gathered and written with one send: the bytes on the wire are
    // the same as chunk by chunk, at a fraction of the system calls and allocations.
    sendBuffer_.clear();
    sendBuffer_.reserve(packet.Data().size() + (packet.Data().size() / outgoingChunkSize_ + 1) * 8
                        + 32);
    formatter->AppendMessage(packet, sendBuffer_);
    try {
        connection_.Send(sendBuffer_.data(), sendBuffer_.size());
    } catch (...) {
        // Part of a message may be on the wire: nothing sent after it could be understood.
        sendFailed_ = true;
        sendBuffer_.clear();
        connection_.Shutdown();
        throw;
    }
    if (sendBuffer_.capacity() > (size_t{1} << 20) && sendBuffer_.size() < (size_t{1} << 16)) {
        // A rare large message should not pin its buffer for the life of the stream.
        sendBuffer_.shrink_to_fit();
    }
    sendBuffer_.clear();
}

void RTMPPacketStream::CloseImpl() {
    foundation::Console::print("closing packet stream");
    stopped_.store(true);
    connection_.Shutdown();
    if (receiverId_.load() == std::this_thread::get_id()) {
        // Closing from a handler: the thread ends after this turn; the destructor joins it.
        return;
    }
    if (receiver_.joinable()) {
        receiver_.join();
    }
}

void RTMPPacketStream::ReceiverProc() {
    receiverId_.store(std::this_thread::get_id());
    foundation::Console::print("rtmp receiver thread started");
    std::string error;
    try {
        while (!stopped_.load()) {
            // Waiting with a time-out rather than blocking lets Close stop an idle receiver, and
            // a peer that hangs up makes the socket readable: the read below then reports it.
            if (!connection_.WaitReadable(kReceiverPollInterval) || stopped_.load()) {
                continue;
            }
            foundation::Console::print("going to receive data");
            ReadRTMPChunk();
        }
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    // A failure while the owner ends the stream (a close, or the peer hanging up after our end
    // of the stream) is how the stream ends, not an error.
    if (!error.empty() && !stopped_.load() && !ending_.load()) {
        foundation::Console::print("rtmp receiver error: " + error);
        if (onReceiverError_) {
            try {
                onReceiverError_(error);
            } catch (...) {
                // The owner's callback failing must not take the process down with it.
            }
        }
    }
    stopped_.store(true);
    {
        MutexLock lock(doneMutex_);
        receiverDone_ = true;
    }
    doneChanged_.notifyAll();
    foundation::Console::print("rtmp receiver thread done");
}

void RTMPPacketStream::ReadRTMPChunk() {
    uint8_t header[3 + 11 + 4];
    connection_.Receive(header, 1);
    const size_t basic = RTMPChunkParser::BasicHeaderLength(header[0]);
    if (basic > 1) {
        connection_.Receive(header + 1, basic - 1);
    }
    uint32_t channel = header[0] & 0x3F;
    if (basic == 2) {
        channel = 64 + uint32_t{header[1]};
    } else if (basic == 3) {
        channel = 64 + uint32_t{header[1]} + 256 * uint32_t{header[2]};
    }
    const auto format = static_cast<RTMPChunkHeaderSize>(header[0] >> 6);

    auto& parser = incoming_[channel];
    if (!parser) {
        if (incoming_.size() > kMaxIncomingChannels) {
            incoming_.erase(channel);
            throw std::runtime_error("too many RTMP chunk streams");
        }
        parser =
                std::make_unique<RTMPChunkParser>(incomingSink_, static_cast<RTMPChannel>(channel));
        foundation::Console::print("new input channel created: " + std::to_string(channel));
    }
    const size_t chunkSize = chunkSize_.load();
    if (parser->ChunkSize() != chunkSize) {
        parser->SetChunkSize(chunkSize);
    }

    size_t length = basic;
    const size_t messageHeader = RTMPChunkParser::MessageHeaderLength(format);
    if (messageHeader > 0) {
        connection_.Receive(header + length, messageHeader);
    }
    const bool extended =
            format == RTMPChunkHeaderSize::Size1
                    ? parser->ExpectsExtendedTimestamp()
                    : ReadBigEndian(header + length, 3) == kRTMPExtendedTimestampMarker;
    size_t payload = 0;
    if (format == RTMPChunkHeaderSize::Size12 || format == RTMPChunkHeaderSize::Size8) {
        payload = std::min<size_t>(ReadBigEndian(header + length + 3, 3), chunkSize);
    } else {
        payload = parser->GetNextChunkSize();
    }
    length += messageHeader;
    if (extended) {
        connection_.Receive(header + length, 4);
        length += 4;
    }

    RTMPChunk chunk;
    chunk.SetHeaderFormat(format);
    auto& data = chunk.Data();
    data.resize(length + payload);
    std::copy(header, header + length, data.begin());
    if (payload > 0) {
        connection_.Receive(data.data() + length, payload);
    }
    bytesReceived_ += data.size();
    parser->PutFrame(chunk);
    SendAcknowledgementIfDue();
}

void RTMPPacketStream::OnIncomingMessage(RTMPPacket packet) {
    const auto type = static_cast<uint8_t>(packet.Header().packetType);
    const auto& body = packet.Data();
    if (type == kAbortMessage && body.size() >= 4) {
        const auto found = incoming_.find(Read32(body));
        if (found != incoming_.end()) {
            found->second->AbortMessage();
        }
    } else if (type == kWindowAcknowledgementSize && body.size() >= 4) {
        acknowledgementWindow_ = Read32(body);
        bytesAcknowledged_ = bytesReceived_;
    } else if (type == kSetPeerBandwidth && body.size() >= 4) {
        // The peer limits what we may send unacknowledged; the standard asks us to tell it the
        // window we now expect its acknowledgements for, when it differs from the one announced.
        const uint32_t window = Read32(body);
        bool changed = false;
        {
            MutexLock lock(sendMutex_);
            changed = announcedWindow_ != window;
        }
        if (changed) {
            AnnounceWindowAcknowledgementSize(window);
        }
    }
    if (packetReceiver_) {
        packetReceiver_->PutFrame(packet);
    }
}

void RTMPPacketStream::SendAcknowledgementIfDue() {
    if (acknowledgementWindow_ == 0
        || bytesReceived_ - bytesAcknowledged_ < acknowledgementWindow_) {
        return;
    }
    bytesAcknowledged_ = bytesReceived_;
    RTMPPacket ack(MediaType::None, MediaCodec::None, RTMPChannel::Control,
                   RTMPPacketType::Acknowledgement, 0);
    // The sequence number is the byte count so far, wrapping at 32 bits.
    ack.Data() = BigEndian32(static_cast<uint32_t>(bytesReceived_));
    PutFrame(ack);
}

}  // namespace pelmar::live
