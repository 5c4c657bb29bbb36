#include "pelmar/live/RTMPChunkFormatter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::ToHex;

struct Message {
    uint64_t ms;
    size_t length;
    RTMPPacketType type = RTMPPacketType::Audio;
    uint32_t streamId = 1;
};

// Body bytes 0, 1, 2, ... so that misplaced pieces show.
RTMPPacket MakePacket(const Message& m, RTMPChannel channel = RTMPChannel::Audio) {
    RTMPPacket packet(MediaType::None, MediaCodec::None, channel, m.type, m.streamId);
    for (size_t i = 0; i < m.length; ++i) {
        packet.Data().push_back(static_cast<uint8_t>(i));
    }
    // Half a millisecond on top keeps the truncation to whole milliseconds exact.
    packet.SetPTS((static_cast<double>(m.ms) + 0.5) / 1000.0);
    return packet;
}

std::vector<uint8_t> Body(size_t from, size_t length) {
    std::vector<uint8_t> body;
    for (size_t i = from; i < from + length; ++i) {
        body.push_back(static_cast<uint8_t>(i));
    }
    return body;
}

class RTMPChunkFormatterTest : public ::testing::Test {
protected:
    RTMPChunkFormatter& Formatter(RTMPChannel channel = RTMPChannel::Audio) {
        formatter_ = std::make_unique<RTMPChunkFormatter>(
                std::make_shared<MediaCallback<RTMPChunk>>([this](RTMPChunk chunk) {
                    chunks.push_back(chunk);
                    if (onChunk) {
                        onChunk(chunk);
                    }
                }),
                channel);
        return *formatter_;
    }

    std::vector<std::string> ChunkHex() const {
        std::vector<std::string> hex;
        for (const auto& chunk : chunks) {
            hex.push_back(ToHex(chunk.Data()));
        }
        return hex;
    }

    std::vector<RTMPChunk> chunks;
    std::function<void(const RTMPChunk&)> onChunk;

private:
    std::unique_ptr<RTMPChunkFormatter> formatter_;
};

TEST_F(RTMPChunkFormatterTest, FirstMessageGoesOutAsOneFullChunk) {
    auto& formatter = Formatter(RTMPChannel::Command);
    auto packet = MakePacket({0, 30, RTMPPacketType::Command, 0}, RTMPChannel::Command);
    packet.SetPTS(0);
    formatter.PutFrame(packet);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].HeaderFormat(), RTMPChunkHeaderSize::Size12);
    EXPECT_EQ(ToHex(chunks[0].Data()),
              ToHex(Concat({Hex("03 000000 00001E 14 00000000"), Body(0, 30)})));
    EXPECT_EQ(packet.Header().timestamp, 0u);
    EXPECT_EQ(packet.Header().timestampDelta, 0u);
}

TEST_F(RTMPChunkFormatterTest, CompressesHeadersAgainstThePreviousMessage) {
    auto& formatter = Formatter(RTMPChannel::Audio);
    for (const Message& m : {Message{40, 2}, Message{100, 2}, Message{160, 2}, Message{200, 3}}) {
        formatter.PutFrame(MakePacket(m));
    }
    EXPECT_THAT(ChunkHex(),
                ::testing::ElementsAre(ToHex(Hex("04 000028 000002 08 01000000 00 01")),
                                       ToHex(Hex("84 00003C 00 01")), ToHex(Hex("C4 00 01")),
                                       ToHex(Hex("44 000028 000003 08 00 01 02"))));
}

TEST_F(RTMPChunkFormatterTest, ChoosesTheHeaderFormatAcrossASequence) {
    using F = RTMPChunkHeaderSize;
    const auto audio = RTMPPacketType::Audio;
    const auto video = RTMPPacketType::Video;

    struct Case {
        const char* name;
        std::vector<Message> messages;
        std::vector<F> formats;
        std::vector<uint64_t> deltas;
    };

    const Case cases[] = {
            // A 1-byte header here (0, 3, 3) would make servers read the second message's
            // delta as 0.
            {"no 1-byte header right after a full one",
             {{40, 10}, {80, 10}, {120, 10}},
             {F::Size12, F::Size4, F::Size1},
             {40, 40, 40}},
            {"same length and type", {{40, 10}, {100, 10}}, {F::Size12, F::Size4}, {40, 60}},
            {"other length", {{40, 10}, {100, 11}}, {F::Size12, F::Size8}, {40, 60}},
            {"other type", {{40, 10, audio}, {80, 10, video}}, {F::Size12, F::Size8}, {40, 40}},
            {"equal timestamps", {{40, 10}, {40, 10}}, {F::Size12, F::Size12}, {40, 40}},
            {"smaller timestamp", {{40, 10}, {30, 10}}, {F::Size12, F::Size12}, {40, 30}},
            {"other stream id",
             {{40, 10, audio, 1}, {80, 10, audio, 2}},
             {F::Size12, F::Size12},
             {40, 80}},
            {"1-byte header after an 8-byte one",
             {{40, 10}, {80, 20}, {120, 20}},
             {F::Size12, F::Size8, F::Size1},
             {40, 40, 40}},
            {"delta changes",
             {{40, 10}, {80, 10}, {130, 10}},
             {F::Size12, F::Size4, F::Size4},
             {40, 40, 50}},
            {"empty previous body", {{40, 0}, {80, 0}}, {F::Size12, F::Size12}, {40, 80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        chunks.clear();
        auto& formatter = Formatter();
        std::vector<uint64_t> deltas;
        for (const auto& m : c.messages) {
            auto packet = MakePacket(m);
            formatter.PutFrame(packet);
            EXPECT_EQ(packet.Header().timestamp, m.ms);
            deltas.push_back(packet.Header().timestampDelta);
        }
        std::vector<F> formats;
        for (const auto& chunk : chunks) {
            formats.push_back(chunk.HeaderFormat());
            EXPECT_EQ(chunk.Data()[0] >> 6, static_cast<int>(chunk.HeaderFormat()));
        }
        EXPECT_EQ(formats, c.formats);
        EXPECT_EQ(deltas, c.deltas);
    }
}

TEST_F(RTMPChunkFormatterTest, SplitsTheBodyAtTheChunkSize) {
    struct Case {
        const char* name;
        size_t chunkSize;
        size_t length;
        std::vector<size_t> payloads;
    };

    const Case cases[] = {
            {"documented 300 at 128", 128, 300, {128, 128, 44}},
            {"exact multiple", 128, 256, {128, 128}},
            {"chunk size 1", 1, 3, {1, 1, 1}},
            {"one big chunk", 4096, 300, {300}},
            {"largest chunk size", kRTMPMaxChunkSize, 5000, {5000}},
            {"empty body", 128, 0, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        chunks.clear();
        auto& formatter = Formatter(RTMPChannel::Video);
        formatter.SetChunkSize(c.chunkSize);
        formatter.PutFrame(MakePacket({0, c.length}, RTMPChannel::Video));
        ASSERT_EQ(chunks.size(), c.payloads.size());
        size_t offset = 0;
        for (size_t i = 0; i < chunks.size(); ++i) {
            const size_t header = i == 0 ? 12 : 1;
            const auto& data = chunks[i].Data();
            EXPECT_EQ(data.size(), header + c.payloads[i]);
            if (i > 0) {
                EXPECT_EQ(data[0], 0xC6);
                EXPECT_EQ(chunks[i].HeaderFormat(), RTMPChunkHeaderSize::Size1);
            }
            EXPECT_EQ(std::vector<uint8_t>(data.begin() + header, data.end()),
                      Body(offset, c.payloads[i]));
            offset += c.payloads[i];
        }
    }
}

TEST_F(RTMPChunkFormatterTest, RepeatsTheExtendedTimestampInEveryChunk) {
    auto& formatter = Formatter(RTMPChannel::Command);
    auto packet = MakePacket({0, 300, RTMPPacketType::Command, 1}, RTMPChannel::Command);
    packet.SetPTS(20000.0);
    formatter.PutFrame(packet);
    EXPECT_THAT(ChunkHex(),
                ::testing::ElementsAre(
                        ToHex(Concat({Hex("03 FFFFFF 00012C 14 01000000 01312D00"), Body(0, 128)})),
                        ToHex(Concat({Hex("C3 01312D00"), Body(128, 128)})),
                        ToHex(Concat({Hex("C3 01312D00"), Body(256, 44)}))));
    EXPECT_EQ(packet.Header().timestamp, 20000000u);
}

TEST_F(RTMPChunkFormatterTest, UsesTheExtendedTimestampFromTheMarkerValueOn) {
    struct Case {
        const char* name;
        uint64_t firstMs;
        uint64_t secondMs;
        const char* secondHeader;
    };

    const Case cases[] = {
            {"delta just below", 1, 1 + 0xFFFFFE, "44 FFFFFE 000000 08"},
            {"delta at the marker", 1, 1 + 0xFFFFFF, "44 FFFFFF 000000 08 00FFFFFF"},
            {"delta above", 1, 1 + 0x1000000, "44 FFFFFF 000000 08 01000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        chunks.clear();
        auto& formatter = Formatter();
        formatter.PutFrame(MakePacket({c.firstMs, 1}));
        formatter.PutFrame(MakePacket({c.secondMs, 0}));
        ASSERT_EQ(chunks.size(), 2u);
        EXPECT_EQ(ToHex(chunks[1].Data()), ToHex(Hex(c.secondHeader)));
    }
}

TEST_F(RTMPChunkFormatterTest, TurnsPresentationTimesIntoWrappedMilliseconds) {
    struct Case {
        const char* name;
        double pts;
        uint64_t timestamp;
    };

    const Case cases[] = {
            {"truncated", 1.0019, 1001},
            {"negative", -5.0, 0},
            {"not a number", std::nan(""), 0},
            {"infinite", std::numeric_limits<double>::infinity(), 0},
            {"31 bits wrap", 2147483.6485, 0},
            {"far beyond 64 bits", 1e300, static_cast<uint64_t>(std::fmod(1e303, 2147483648.0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto& formatter = Formatter();
        auto packet = MakePacket({0, 1});
        packet.SetPTS(c.pts);
        formatter.PutFrame(packet);
        EXPECT_EQ(packet.Header().timestamp, c.timestamp);
    }
}

TEST_F(RTMPChunkFormatterTest, LongerBasicHeadersCarryHighChunkStreamIds) {
    struct Case {
        uint32_t channel;
        const char* first;
        const char* next;
    };

    const Case cases[] = {
            {2, "02", "C2"},
            {63, "3F", "FF"},
            {64, "00 00", "C0 00"},
            {319, "00 FF", "C0 FF"},
            {320, "01 00 01", "C1 00 01"},
            {65599, "01 FF FF", "C1 FF FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channel);
        chunks.clear();
        auto& formatter = Formatter(static_cast<RTMPChannel>(c.channel));
        formatter.SetChunkSize(1);
        formatter.PutFrame(MakePacket({0, 2}));
        ASSERT_EQ(chunks.size(), 2u);
        EXPECT_EQ(ToHex(chunks[0].Data()),
                  ToHex(Concat({Hex(c.first), Hex("000000 000002 08 01000000 00")})));
        EXPECT_EQ(ToHex(chunks[1].Data()), ToHex(Concat({Hex(c.next), Hex("01")})));
    }
    for (const uint32_t channel : {0u, 1u, 65600u}) {
        SCOPED_TRACE(channel);
        EXPECT_THAT([&] { Formatter(static_cast<RTMPChannel>(channel)); },
                    test::ThrowsWithText("invalid chunk stream id"));
    }
}

TEST_F(RTMPChunkFormatterTest, RefusesChunkSizesThatCannotWork) {
    auto& formatter = Formatter();
    for (const size_t size :
         {size_t{0}, kRTMPMaxChunkSize + 1, std::numeric_limits<size_t>::max()}) {
        SCOPED_TRACE(size);
        EXPECT_THAT([&] { formatter.SetChunkSize(size); },
                    test::ThrowsWithText("invalid chunk size"));
        EXPECT_EQ(formatter.ChunkSize(), kRTMPDefaultChunkSize);
    }
    formatter.SetChunkSize(1);
    EXPECT_EQ(formatter.ChunkSize(), 1u);
}

TEST_F(RTMPChunkFormatterTest, RefusesBodiesTheLengthFieldCannotCarry) {
    auto& formatter = Formatter();
    formatter.SetChunkSize(kRTMPMaxChunkSize);
    auto packet = MakePacket({0, 0});
    packet.Data().resize(kRTMPMaxMessageLength + 1);
    EXPECT_THAT([&] { formatter.PutFrame(packet); }, test::ThrowsWithText("RTMP message too long"));
    EXPECT_TRUE(chunks.empty());
    packet.Data().pop_back();
    formatter.PutFrame(packet);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(ToHex({chunks[0].Data().begin() + 4, chunks[0].Data().begin() + 7}), "FF FF FF");
}

TEST_F(RTMPChunkFormatterTest, ChunkSizeChangesTakeEffectInTheMiddleOfAMessage) {
    auto& formatter = Formatter();
    onChunk = [&](const RTMPChunk&) { formatter.SetChunkSize(64); };
    formatter.PutFrame(MakePacket({0, 300}));
    std::vector<size_t> sizes;
    for (const auto& chunk : chunks) {
        sizes.push_back(chunk.Data().size());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{12 + 128, 1 + 64, 1 + 64, 1 + 44}));
}

TEST_F(RTMPChunkFormatterTest, StartsAfreshAfterTheOutputFailedMidMessage) {
    auto& formatter = Formatter();
    onChunk = [&](const RTMPChunk&) {
        if (chunks.size() == 2) {
            throw std::runtime_error("send failed");
        }
    };
    EXPECT_THAT(
            [&] {
                formatter.PutFrame(MakePacket({40, 300}));
            },
            test::ThrowsWithText("send failed"));
    onChunk = nullptr;
    chunks.clear();
    formatter.PutFrame(MakePacket({80, 300}));
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(ToHex(chunks[0].Data()),
              ToHex(Concat({Hex("04 000050 00012C 08 01000000"), Body(0, 128)})));
}

TEST_F(RTMPChunkFormatterTest, AppendMessageWritesTheSameBytesAsChunkByChunk) {
    const Message sequence[] = {{40, 300}, {80, 300},       {120, 300},     {121, 10},
                                {121, 0},  {16777300, 200}, {16777340, 200}};
    auto& chunked = Formatter(RTMPChannel::Video);
    RTMPChunkFormatter whole(nullptr, RTMPChannel::Video);
    std::vector<uint8_t> expected;
    std::vector<uint8_t> appended;
    for (const auto& m : sequence) {
        chunks.clear();
        chunked.PutFrame(MakePacket(m, RTMPChannel::Video));
        for (const auto& chunk : chunks) {
            expected.insert(expected.end(), chunk.Data().begin(), chunk.Data().end());
        }
        whole.AppendMessage(MakePacket(m, RTMPChannel::Video), appended);
    }
    EXPECT_EQ(ToHex(appended), ToHex(expected));
    // A body the length field cannot carry leaves the buffer as it was.
    const auto before = appended;
    EXPECT_THAT(
            [&] {
                whole.AppendMessage(MakePacket({200, kRTMPMaxMessageLength + 1}), appended);
            },
            test::ThrowsWithText("RTMP message too long"));
    EXPECT_EQ(appended, before);
}

}  // namespace
}  // namespace pelmar::live
