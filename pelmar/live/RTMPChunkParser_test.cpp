#include "pelmar/live/RTMPChunkParser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPChunkFormatter.h"
#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::ToHex;

std::vector<uint8_t> Body(size_t from, size_t length) {
    std::vector<uint8_t> body;
    for (size_t i = from; i < from + length; ++i) {
        body.push_back(static_cast<uint8_t>(i));
    }
    return body;
}

RTMPChunk Chunk(const std::vector<uint8_t>& bytes) {
    RTMPChunk chunk;
    chunk.Data() = bytes;
    return chunk;
}

class RTMPChunkParserTest : public ::testing::Test {
protected:
    RTMPChunkParser& Parser(RTMPChannel channel = RTMPChannel::Command) {
        messages.clear();
        parser_ = std::make_unique<RTMPChunkParser>(
                std::make_shared<MediaCallback<RTMPPacket>>(
                        [this](RTMPPacket message) { messages.push_back(message); }),
                channel);
        return *parser_;
    }

    void Put(const std::vector<uint8_t>& bytes) { parser_->PutFrame(Chunk(bytes)); }

    std::vector<RTMPPacket> messages;

private:
    std::unique_ptr<RTMPChunkParser> parser_;
};

TEST_F(RTMPChunkParserTest, DeliversASingleChunkMessageAtOnce) {
    auto& parser = Parser(RTMPChannel::Command);
    EXPECT_EQ(parser.GetNextChunkSize(), 0u);
    Put(Concat({Hex("03 0003E8 00001E 14 00000000"), Body(0, 30)}));
    ASSERT_EQ(messages.size(), 1u);
    const auto& m = messages[0];
    EXPECT_EQ(m.Header().packetType, RTMPPacketType::Command);
    EXPECT_EQ(m.Header().channel, RTMPChannel::Command);
    EXPECT_EQ(m.Header().messageStreamId, 0u);
    EXPECT_EQ(m.Header().timestamp, 1000u);
    EXPECT_EQ(m.PTS(), 1.0);
    EXPECT_EQ(m.Data(), Body(0, 30));
}

TEST_F(RTMPChunkParserTest, JoinsTheChunksOfALongMessage) {
    auto& parser = Parser();
    Put(Concat({Hex("03 000000 00012C 14 00000000"), Body(0, 128)}));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(parser.GetNextChunkSize(), 128u);
    Put(Concat({Hex("C3"), Body(128, 128)}));
    EXPECT_EQ(parser.GetNextChunkSize(), 44u);
    Put(Concat({Hex("C3"), Body(256, 44)}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Data(), Body(0, 300));
    EXPECT_EQ(parser.GetNextChunkSize(), 128u);
}

TEST_F(RTMPChunkParserTest, CompletesShortHeadersFromThePreviousMessage) {
    struct Case {
        const char* name;
        const char* chunk;
        uint64_t timestamp;
        size_t length;
        RTMPPacketType type;
    };

    // Each case follows a message at 1000 ms: type 20, stream id 5, 2 bytes.
    const Case cases[] = {
            {"8-byte header", "43 000028 000003 09 AA BB CC", 1040, 3, RTMPPacketType::Video},
            {"4-byte header", "83 000021 AA BB", 1033, 2, RTMPPacketType::Command},
            {"1-byte header reuses the absolute time as delta", "C3 AA BB", 2000, 2,
             RTMPPacketType::Command},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto& parser = Parser();
        Put(Hex("03 0003E8 000002 14 05000000 01 02"));
        EXPECT_EQ(parser.GetNextChunkSize(), 2u);
        Put(Hex(c.chunk));
        ASSERT_EQ(messages.size(), 2u);
        const auto& m = messages[1];
        EXPECT_EQ(m.Header().timestamp, c.timestamp);
        EXPECT_EQ(m.Data().size(), c.length);
        EXPECT_EQ(m.Header().packetType, c.type);
        EXPECT_EQ(m.Header().messageStreamId, 5u);
    }
}

TEST_F(RTMPChunkParserTest, ReadsExtendedTimestampsOnEveryChunkOfTheMessage) {
    auto& parser = Parser();
    Put(Concat({Hex("03 FFFFFF 00012C 14 01000000 01312D00"), Body(0, 128)}));
    EXPECT_TRUE(parser.ExpectsExtendedTimestamp());
    Put(Concat({Hex("C3 01312D00"), Body(128, 128)}));
    Put(Concat({Hex("C3 01312D00"), Body(256, 44)}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Header().timestamp, 20000000u);
    EXPECT_EQ(messages[0].Header().messageStreamId, 1u);
    EXPECT_EQ(messages[0].PTS(), 20000.0);
    EXPECT_EQ(messages[0].Data(), Body(0, 300));

    // A new message with a 1-byte header repeats the extended timestamp as its delta.
    Put(Concat({Hex("C3 01312D00"), Body(0, 128)}));
    Put(Concat({Hex("C3 01312D00"), Body(128, 128)}));
    Put(Concat({Hex("C3 01312D00"), Body(256, 44)}));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].Header().timestamp, 40000000u);

    // A delta that fits in 24 bits ends the extended timestamps.
    Put(Concat({Hex("83 000001"), Body(0, 128)}));
    EXPECT_FALSE(parser.ExpectsExtendedTimestamp());
    Put(Concat({Hex("C3"), Body(128, 128)}));
    Put(Concat({Hex("C3"), Body(256, 44)}));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].Header().timestamp, 40000001u);
}

TEST_F(RTMPChunkParserTest, ReadsTwoAndThreeByteBasicHeaders) {
    for (const char* basic : {"00 00", "00 FF", "01 00 01", "01 FF FF"}) {
        SCOPED_TRACE(basic);
        Parser();
        const auto first = Hex(basic);
        auto next = first;
        next[0] |= 0xC0;
        Put(Concat({first, Hex("000000 000002 14 00000000 AB")}));
        Put(Concat({next, Hex("CD")}));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(ToHex(messages[0].Data()), "AB CD");
        EXPECT_EQ(RTMPChunkParser::BasicHeaderLength(first[0]), first.size());
    }
}

TEST_F(RTMPChunkParserTest, RefusesAFullHeaderInTheMiddleOfAMessageAndKeepsIt) {
    Parser();
    Put(Concat({Hex("03 000000 00012C 14 00000000"), Body(0, 128)}));
    for (const char* header :
         {"03 000000 000001 14 00000000 00", "43 000028 000001 14 00", "83 000028 00"}) {
        SCOPED_TRACE(header);
        EXPECT_THAT([&] { Put(Hex(header)); }, test::ThrowsWithText("wrong header size"));
    }
    Put(Concat({Hex("C3"), Body(128, 128)}));
    Put(Concat({Hex("C3"), Body(256, 44)}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Data(), Body(0, 300));
}

TEST_F(RTMPChunkParserTest, RefusesTruncatedChunksWithoutLosingState) {
    struct Case {
        const char* name;
        const char* before;  // chunks that go in first
        std::vector<uint8_t> chunk;
    };

    const Case cases[] = {
            {"empty chunk", "", {}},
            {"full header cut short", "", Hex("03 000000 0000")},
            {"second byte of the basic header missing", "", Hex("00")},
            {"4-byte header cut short", "", Hex("83 00")},
            {"extended timestamp missing", "", Hex("03 FFFFFF 000002 14 00000000")},
            {"empty continuation", "03 000000 000002 14 00000000 AA", {}},
            {"continuation without its extended timestamp",
             "03 FFFFFF 000002 14 00000000 01312D00 AA", Hex("C3 01 31")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Parser();
        if (*c.before != '\0') {
            Put(Hex(c.before));
        }
        EXPECT_THAT([&] { Put(c.chunk); }, test::ThrowsWithText("truncated RTMP chunk"));
        EXPECT_TRUE(messages.empty());
    }
    // After the last case the incomplete message still completes.
    Put(Hex("C3 01312D00 BB"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(ToHex(messages[0].Data()), "AA BB");
}

TEST_F(RTMPChunkParserTest, RefusesPayloadBeyondTheAnnouncedLength) {
    Parser();
    EXPECT_THAT([&] { Put(Hex("03 000000 000002 14 00000000 01 02 03")); },
                test::ThrowsWithText("RTMP chunk payload exceeds message length"));
    Put(Hex("03 000000 000002 14 00000000 01"));
    EXPECT_THAT([&] { Put(Hex("C3 02 03")); },
                test::ThrowsWithText("RTMP chunk payload exceeds message length"));
    Put(Hex("C3 02"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(ToHex(messages[0].Data()), "01 02");
}

TEST_F(RTMPChunkParserTest, ChunkSizeRulesTheNextChunkAndRefusesZero) {
    auto& parser = Parser();
    parser.SetChunkSize(4096);
    Put(Concat({Hex("03 000000 002710 09 01000000"), Body(0, 4096)}));
    EXPECT_EQ(parser.GetNextChunkSize(), 4096u);
    parser.SetChunkSize(1000);
    EXPECT_EQ(parser.GetNextChunkSize(), 1000u);
    for (const size_t size : {size_t{0}, kRTMPMaxChunkSize + 1}) {
        EXPECT_THAT([&] { parser.SetChunkSize(size); }, test::ThrowsWithText("invalid chunk size"));
    }
    EXPECT_EQ(parser.ChunkSize(), 1000u);
}

// Formats random messages and parses the chunks back: every field and byte must survive, for any
// chunk size, chunk stream id and timestamp pattern (equal, falling, large jumps across the
// extended-timestamp marker).
TEST_F(RTMPChunkParserTest, ParsesBackWhatTheFormatterProduces) {
    std::mt19937 random(1234);
    const auto draw = [&](uint64_t low, uint64_t high) {
        return std::uniform_int_distribution<uint64_t>(low, high)(random);
    };
    for (const size_t chunkSize : {size_t{1}, size_t{7}, size_t{128}, size_t{4096}}) {
        for (const uint32_t channel : {2u, 63u, 64u, 320u, 65599u}) {
            SCOPED_TRACE(::testing::Message()
                         << "chunk size " << chunkSize << " channel " << channel);
            auto& parser = Parser(static_cast<RTMPChannel>(channel));
            parser.SetChunkSize(chunkSize);
            RTMPChunkFormatter formatter(
                    std::make_shared<MediaCallback<RTMPChunk>>([&](RTMPChunk chunk) {
                        const size_t expected = RTMPChunkParser::BasicHeaderLength(chunk.Data()[0]);
                        ASSERT_GE(chunk.Data().size(), expected);
                        parser.PutFrame(chunk);
                    }),
                    static_cast<RTMPChannel>(channel));
            formatter.SetChunkSize(chunkSize);

            std::vector<RTMPPacket> sent;
            uint64_t ms = 0;
            for (int i = 0; i < 60; ++i) {
                switch (draw(0, 5)) {
                    case 0:
                        break;  // same time
                    case 1:
                        ms -= std::min<uint64_t>(ms, draw(0, 50));
                        break;
                    case 2:
                        ms += draw(0xFFFFF0, 0x1000010);
                        break;
                    default:
                        ms += draw(1, 40);
                }
                ms &= 0x7FFFFFFF;
                RTMPPacket packet(MediaType::None, MediaCodec::None,
                                  static_cast<RTMPChannel>(channel),
                                  draw(0, 3) == 0 ? RTMPPacketType::Video : RTMPPacketType::Audio,
                                  static_cast<uint32_t>(draw(0, 4) == 0 ? draw(0, 0xFFFFFFFF) : 1));
                const size_t length = draw(0, 3) == 0 ? 0 : draw(1, 3) * 100;
                for (size_t b = 0; b < length; ++b) {
                    packet.Data().push_back(static_cast<uint8_t>(draw(0, 255)));
                }
                packet.SetPTS((static_cast<double>(ms) + 0.5) / 1000.0);
                formatter.PutFrame(packet);
                sent.push_back(packet);
            }
            ASSERT_EQ(messages.size(), sent.size());
            for (size_t i = 0; i < sent.size(); ++i) {
                SCOPED_TRACE(i);
                const auto& out = messages[i].Header();
                const auto& in = sent[i].Header();
                EXPECT_EQ(out.timestamp, in.timestamp);
                EXPECT_EQ(out.packetType, in.packetType);
                EXPECT_EQ(out.messageStreamId, in.messageStreamId);
                EXPECT_EQ(out.channel, static_cast<RTMPChannel>(channel));
                EXPECT_EQ(messages[i].Data(), sent[i].Data());
            }
        }
    }
}

TEST_F(RTMPChunkParserTest, KeepsInterleavedChunkStreamsApart) {
    std::map<uint32_t, std::vector<RTMPPacket>> received;
    std::map<uint32_t, std::unique_ptr<RTMPChunkParser>> parsers;
    std::map<uint32_t, std::vector<RTMPChunk>> pending;
    std::map<uint32_t, std::unique_ptr<RTMPChunkFormatter>> formatters;
    for (const uint32_t channel : {4u, 6u, 300u}) {
        parsers[channel] = std::make_unique<RTMPChunkParser>(
                std::make_shared<MediaCallback<RTMPPacket>>(
                        [&received, channel](RTMPPacket m) { received[channel].push_back(m); }),
                static_cast<RTMPChannel>(channel));
        formatters[channel] = std::make_unique<RTMPChunkFormatter>(
                std::make_shared<MediaCallback<RTMPChunk>>(
                        [&pending, channel](RTMPChunk c) { pending[channel].push_back(c); }),
                static_cast<RTMPChannel>(channel));
    }
    std::map<uint32_t, std::vector<std::vector<uint8_t>>> bodies;
    for (int i = 0; i < 3; ++i) {
        for (auto& [channel, formatter] : formatters) {
            RTMPPacket packet(MediaType::None, MediaCodec::None, static_cast<RTMPChannel>(channel),
                              RTMPPacketType::Video, 1);
            packet.Data() = Body(channel + static_cast<size_t>(i), 200 + 50 * i + channel);
            packet.SetPTS(0.04 * i);
            formatter->PutFrame(packet);
            bodies[channel].push_back(packet.Data());
        }
    }
    // Round-robin, one chunk per stream at a time, as a server multiplexes them; each chunk goes
    // to the parser of the chunk stream its basic header names.
    for (bool any = true; any;) {
        any = false;
        for (auto& [channel, queue] : pending) {
            if (queue.empty()) {
                continue;
            }
            any = true;
            const RTMPChunk chunk = queue.front();
            queue.erase(queue.begin());
            const auto& d = chunk.Data();
            uint32_t id = d[0] & 0x3Fu;
            if (id == 0) {
                id = 64u + d[1];
            } else if (id == 1) {
                id = 64u + d[1] + 256u * d[2];
            }
            parsers.at(id)->PutFrame(chunk);
        }
    }
    for (const auto& [channel, expected] : bodies) {
        SCOPED_TRACE(channel);
        ASSERT_EQ(received[channel].size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(received[channel][i].Data(), expected[i]);
        }
    }
}

}  // namespace
}  // namespace pelmar::live
