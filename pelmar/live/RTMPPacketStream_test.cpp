#include "pelmar/live/RTMPPacketStream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/LoopbackPeer.h"
#include "pelmar/live/testing/RTMPWire.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/Matchers.h"
#include "testing/Patience.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::kPatience;
using test::ToHex;

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
    std::vector<uint8_t> body(length);
    for (size_t i = 0; i < length; ++i) {
        body[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return body;
}

RTMPPacket Message(RTMPChannel channel,
                   RTMPPacketType type,
                   std::vector<uint8_t> body,
                   double pts = 0) {
    RTMPPacket packet(MediaType::None, MediaCodec::None, channel, type, 1);
    packet.Data() = std::move(body);
    packet.SetPTS(pts);
    return packet;
}

// What the stream delivers: messages and the receiver's error, waited for without sleeping.
class Inbox {
public:
    void Add(RTMPPacket packet) {
        std::lock_guard lock(mutex_);
        messages_.push_back(packet);
        changed_.notify_all();
    }

    void Fail(const std::string& error) {
        std::lock_guard lock(mutex_);
        error_ = error;
        changed_.notify_all();
    }

    std::vector<RTMPPacket> WaitForMessages(size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return messages_.size() >= n; });
        return messages_;
    }

    std::optional<std::string> WaitForError() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return error_.has_value(); });
        return error_;
    }

    std::optional<std::string> Error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RTMPPacket> messages_;
    std::optional<std::string> error_;
};

class RTMPPacketStreamTest : public ::testing::Test {
protected:
    void Open(std::function<void(RTMPPacket)> onMessage = {}) {
        connection_.Connect("127.0.0.1", peer_.port());
        peer_.Accept();
        auto receiver =
                std::make_shared<MediaCallback<RTMPPacket>>([this, onMessage](RTMPPacket p) {
                    if (onMessage) {
                        onMessage(p);
                    }
                    inbox_.Add(p);
                });
        stream_ = std::make_shared<RTMPPacketStream>(
                connection_, receiver, [this](const std::string& e) { inbox_.Fail(e); });
    }

    void TearDown() override { stream_.reset(); }

    test::LoopbackPeer peer_;
    NetworkConnection connection_;
    Inbox inbox_;
    std::shared_ptr<RTMPPacketStream> stream_;
};

TEST_F(RTMPPacketStreamTest, WritesEachMessageContiguouslyWhileThreadsSendAtOnce) {
    Open();
    constexpr int kMessages = 40;
    auto send = [this](RTMPChannel channel, uint8_t seed) {
        for (int i = 0; i < kMessages; ++i) {
            stream_->PutFrame(
                    Message(channel, RTMPPacketType::Video, Pattern(1000 + i, seed), 0.04 * i));
        }
    };
    std::thread video(send, RTMPChannel::Video, 1);
    std::thread audio(send, RTMPChannel::Audio, 2);
    test::RTMPWireReader wire(peer_);
    int perChannel[2] = {0, 0};
    for (int i = 0; i < 2 * kMessages; ++i) {
        const auto message = wire.ReadMessage();
        const bool isVideo = message.Header().channel == RTMPChannel::Video;
        const int k = perChannel[isVideo ? 0 : 1]++;
        ASSERT_EQ(message.Data(), Pattern(1000 + k, isVideo ? 1 : 2)) << i;
        EXPECT_EQ(message.Header().timestamp, static_cast<uint64_t>(40 * k));
    }
    video.join();
    audio.join();
    EXPECT_FALSE(wire.Interleaved());
}

// Each direction has its own chunk size: the peer's Set Chunk Size changes how we read, never how
// we write.
TEST_F(RTMPPacketStreamTest, PeerChunkSizeAppliesToIncomingChunksOnly) {
    Open();
    stream_->SetChunkSize(4096);
    EXPECT_EQ(stream_->ChunkSize(), 4096U);
    stream_->PutFrame(Message(RTMPChannel::Audio, RTMPPacketType::Audio, Pattern(300, 0)));
    const auto bytes = peer_.Read(12 + 128 + 1 + 128 + 1 + 44);
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[140], 0xC4);
    EXPECT_EQ(bytes[269], 0xC4);

    test::RTMPWireWriter peerWriter(RTMPChannel::Command, 4096);
    peer_.Write(peerWriter.Bytes(RTMPPacketType::Command, Pattern(300, 9)));
    const auto messages = inbox_.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].Data(), Pattern(300, 9));
    EXPECT_THAT([&] { stream_->SetChunkSize(0); }, test::ThrowsWithText("invalid chunk size"));
}

// The receiver tells of each chunk it is about to read on the console, where its other lines go.
TEST_F(RTMPPacketStreamTest, EachIncomingChunkIsAnnouncedBeforeItIsRead) {
    foundation::Console::Capture console;
    Open();
    test::RTMPWireWriter peerWriter(RTMPChannel::Command);
    peer_.Write(peerWriter.Bytes(RTMPPacketType::Command, Pattern(300, 3)));  // three chunks
    ASSERT_EQ(inbox_.WaitForMessages(1).size(), 1U);
    stream_->Close();
    std::vector<std::string> receiverLines;
    for (const auto& line : console.lines()) {
        if (line.rfind("going to receive", 0) == 0 || line.rfind("new input channel", 0) == 0) {
            receiverLines.push_back(line);
        }
    }
    EXPECT_THAT(receiverLines,
                ::testing::ElementsAre("going to receive data", "new input channel created: 3",
                                       "going to receive data", "going to receive data"));
}

// Our chunk size changes with the Set Chunk Size we send, on chunk streams in use and new ones
// alike, and the peer's does not follow it.
TEST_F(RTMPPacketStreamTest, AnnouncedChunkSizeCutsEveryLaterMessage) {
    Open();
    stream_->PutFrame(Message(RTMPChannel::Audio, RTMPPacketType::Audio, Pattern(300, 0)));
    EXPECT_THAT([&] { stream_->AnnounceChunkSize(0); }, test::ThrowsWithText("invalid chunk size"));
    stream_->AnnounceChunkSize(4096);
    EXPECT_EQ(stream_->OutgoingChunkSize(), 4096U);
    EXPECT_EQ(stream_->ChunkSize(), 128U);
    stream_->PutFrame(Message(RTMPChannel::Audio, RTMPPacketType::Audio, Pattern(5000, 1)));
    stream_->PutFrame(Message(RTMPChannel::Video, RTMPPacketType::Video, Pattern(5000, 2)));

    test::RTMPWireReader wire(peer_);
    EXPECT_EQ(wire.ReadMessage().Data(), Pattern(300, 0));
    const auto announcement = wire.ReadMessage();
    EXPECT_EQ(announcement.Header().packetType, RTMPPacketType::SetChunkSize);
    EXPECT_EQ(announcement.Header().channel, RTMPChannel::Control);
    EXPECT_EQ(ToHex(announcement.Data()), "00 00 10 00");
    for (uint8_t seed : {1, 2}) {
        const uint64_t before = wire.BytesRead();
        EXPECT_EQ(wire.ReadMessage().Data(), Pattern(5000, seed));
        // At most a 12-byte header, then one 1-byte header for the second chunk.
        EXPECT_LE(wire.BytesRead() - before, 5000U + 12 + 1) << int{seed};
    }
}

TEST(RTMPPacketStreamReadTest, ReadsEveryChunkHeaderForm) {
    struct Case {
        const char* name;
        uint32_t channel;
        size_t peerChunkSize;
        double pts;
        size_t length;
    };

    const Case cases[] = {
            {"300 bytes in chunks of 128", 3, 128, 1.0, 300},
            {"300 bytes in one chunk of 4096", 3, 4096, 1.0, 300},
            {"extended timestamp on every chunk", 5, 128, 16777.216, 300},
            {"two-byte basic header", 70, 128, 2.0, 200},
            {"three-byte basic header", 400, 128, 2.0, 200},
            {"empty body", 6, 128, 0.5, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LoopbackPeer peer;
        NetworkConnection connection;
        connection.Connect("127.0.0.1", peer.port());
        peer.Accept();
        Inbox inbox;
        auto stream = std::make_shared<RTMPPacketStream>(
                connection,
                std::make_shared<MediaCallback<RTMPPacket>>([&](RTMPPacket p) { inbox.Add(p); }),
                [&](const std::string& e) { inbox.Fail(e); });
        stream->SetChunkSize(c.peerChunkSize);
        test::RTMPWireWriter writer(static_cast<RTMPChannel>(c.channel), c.peerChunkSize);
        // Two messages: the second is read with the header state the first left.
        peer.Write(
                Concat({writer.Bytes(RTMPPacketType::Audio, Pattern(c.length, 1), c.pts, 1),
                        writer.Bytes(RTMPPacketType::Audio, Pattern(c.length, 2), c.pts + 1, 1)}));
        const auto messages = inbox.WaitForMessages(2);
        ASSERT_EQ(messages.size(), 2U) << inbox.Error().value_or("");
        EXPECT_EQ(static_cast<uint32_t>(messages[0].Header().channel), c.channel);
        EXPECT_EQ(messages[0].Data(), Pattern(c.length, 1));
        EXPECT_EQ(messages[1].Data(), Pattern(c.length, 2));
        EXPECT_EQ(messages[0].Header().timestamp, static_cast<uint64_t>(c.pts * 1000));
        EXPECT_EQ(messages[1].Header().timestamp, static_cast<uint64_t>(c.pts * 1000) + 1000);
        EXPECT_FALSE(inbox.Error());
    }
}

TEST_F(RTMPPacketStreamTest, AcknowledgesEachWindowAndDropsAnAbortedMessage) {
    Open();
    test::RTMPWireWriter control(RTMPChannel::Control);
    test::RTMPWireWriter data(static_cast<RTMPChannel>(5));
    // Window of 500 bytes: 16 bytes of this message, then 3 x 141 + 61 of the next.
    const auto window = control.Bytes(static_cast<RTMPPacketType>(5), Hex("00 00 01 F4"));
    peer_.Write(window);
    const auto big = data.Bytes(RTMPPacketType::Audio, Pattern(500, 3));
    peer_.Write(big);
    test::RTMPWireReader wire(peer_);
    const auto ack = wire.ReadMessage();
    EXPECT_EQ(static_cast<int>(ack.Header().packetType), 3);
    EXPECT_EQ(ack.Header().channel, RTMPChannel::Control);
    const uint32_t total = static_cast<uint32_t>(window.size() + big.size());
    EXPECT_EQ(ToHex(ack.Data()),
              ToHex({static_cast<uint8_t>(total >> 24), static_cast<uint8_t>(total >> 16),
                     static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total)}));

    // The first chunk of a message, then Abort for its chunk stream, then a new message there.
    test::RTMPWireWriter partial(static_cast<RTMPChannel>(5));
    const auto unfinished = partial.Bytes(RTMPPacketType::Audio, Pattern(300, 4), 1);
    peer_.Write({unfinished.begin(), unfinished.begin() + 12 + 128});
    peer_.Write(control.Bytes(static_cast<RTMPPacketType>(2), Hex("00 00 00 05")));
    test::RTMPWireWriter fresh(static_cast<RTMPChannel>(5));
    peer_.Write(fresh.Bytes(RTMPPacketType::Audio, Pattern(20, 5), 2));
    const auto messages = inbox_.WaitForMessages(4);
    ASSERT_EQ(messages.size(), 4U) << inbox_.Error().value_or("");
    EXPECT_EQ(static_cast<int>(messages[2].Header().packetType), 2);
    EXPECT_EQ(messages[3].Data(), Pattern(20, 5));
}

TEST(RTMPPacketStreamHangUpTest, ReportsAPeerThatHangsUpIdleOrInTheMiddleOfAChunk) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytesBeforeClosing;
    };

    const Case cases[] = {
            {"idle", {}},
            {"in a chunk", Hex("03 00 00 00 00 01 2C 14 00 00 00 00 02 0A")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LoopbackPeer peer;
        NetworkConnection connection;
        connection.Connect("127.0.0.1", peer.port());
        peer.Accept();
        Inbox inbox;
        auto stream = std::make_shared<RTMPPacketStream>(
                connection, nullptr, [&](const std::string& e) { inbox.Fail(e); });
        peer.Write(c.bytesBeforeClosing);
        peer.CloseConnection();
        EXPECT_EQ(inbox.WaitForError(), "netowrk recv data failed");
        EXPECT_TRUE(stream->WaitForReceiverEnd(kPatience));
        EXPECT_FALSE(stream->ReceiverRunning());
    }
}

TEST_F(RTMPPacketStreamTest, SendingToAPeerThatHasGoneThrowsWithoutSigpipe) {
    Open();
    peer_.CloseConnection();
    ASSERT_TRUE(stream_->WaitForReceiverEnd(kPatience));
    std::string error;
    for (int i = 0; i < 100 && error.empty(); ++i) {
        try {
            stream_->PutFrame(Message(RTMPChannel::Video, RTMPPacketType::Video, Pattern(5000, 1)));
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
    }
    EXPECT_EQ(error, "network send data failed");
    // The stream is broken for good: later messages fail at once.
    EXPECT_THAT([&] { stream_->PutFrame(Message(RTMPChannel::Audio, RTMPPacketType::Audio, {1})); },
                test::ThrowsWithText("network send data failed"));
}

TEST_F(RTMPPacketStreamTest, ReceiverEndsOnMalformedInputAndFailingHandlers) {
    Open([](RTMPPacket p) {
        if (p.Data().size() == 3) {
            throw std::runtime_error("handler failed");
        }
    });
    test::RTMPWireWriter writer(RTMPChannel::Command);
    peer_.Write(writer.Bytes(RTMPPacketType::Command, {1, 2, 3}));
    EXPECT_EQ(inbox_.WaitForError(), "handler failed");
    EXPECT_TRUE(stream_->WaitForReceiverEnd(kPatience));

    test::LoopbackPeer peer;
    NetworkConnection connection;
    connection.Connect("127.0.0.1", peer.port());
    peer.Accept();
    Inbox inbox;
    RTMPPacketStream stream(connection, nullptr, [&](const std::string& e) { inbox.Fail(e); });
    std::vector<uint8_t> many;  // one-byte messages on chunk streams 64, 65, ... (2-byte headers)
    for (uint8_t k = 0; k <= RTMPPacketStream::kMaxIncomingChannels; ++k) {
        many.insert(many.end(), {0, k, 0, 0, 0, 0, 0, 1, 8, 0, 0, 0, 0, 7});
    }
    peer.Write(many);
    EXPECT_EQ(inbox.WaitForError(), "too many RTMP chunk streams");
}

TEST_F(RTMPPacketStreamTest, CloseStopsTheReceiverWithoutReportingAndLaterSendsFail) {
    Open();
    stream_->Close();
    EXPECT_FALSE(stream_->ReceiverRunning());
    EXPECT_FALSE(inbox_.Error());
    EXPECT_THAT([&] { stream_->PutFrame(Message(RTMPChannel::Audio, RTMPPacketType::Audio, {1})); },
                test::ThrowsWithText("network send data failed"));
    EXPECT_TRUE(peer_.ReadsEndOfStream());
}

}  // namespace
}  // namespace pelmar::live
