#include "pelmar/live/RTMPClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/LoopbackPeer.h"
#include "pelmar/live/testing/RTMPWire.h"
#include "pelmar/live/testing/ScriptedRtmpServer.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/Matchers.h"
#include "testing/Waits.h"

namespace pelmar::live {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ToHex;

using test::DecodeAmf;
using test::EncodeAmf;
using FakeServer = test::ScriptedRtmpServer;

std::shared_ptr<AMFValue> Status(const std::string& level, const std::string& code) {
    return test::StatusObject(level, code);
}

FLVFrame Tag(uint8_t type, std::vector<uint8_t> body, double pts = 0) {
    FLVFrame frame(type == kFLVTagVideo ? MediaType::Video : MediaType::None,
                   type == kFLVTagVideo ? MediaCodec::H264 : MediaCodec::None, type);
    frame.Data() = {type, 0, 0, static_cast<uint8_t>(body.size()), 0, 0, 0, 0, 0, 0, 0};
    frame.Data().insert(frame.Data().end(), body.begin(), body.end());
    frame.Data().insert(frame.Data().end(), {0, 0, 0, static_cast<uint8_t>(body.size() + 11)});
    frame.SetPTS(pts);
    return frame;
}

struct Events {
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::mutex mutex;
    std::condition_variable started;
    std::vector<std::string> errors;

    RTMPClient::Callbacks Callbacks() {
        return {[this](std::string e) {
                    std::lock_guard lock(mutex);
                    errors.push_back(std::move(e));
                },
                [this] {
                    std::lock_guard lock(mutex);
                    ++starts;
                    started.notify_all();
                },
                [this] { ++stops; }};
    }

    bool WaitForStart() {
        std::unique_lock lock(mutex);
        return started.wait_for(lock, 20s, [this] { return starts.load() > 0; });
    }

    std::vector<std::string> Errors() {
        std::lock_guard lock(mutex);
        return errors;
    }
};

std::future<std::shared_ptr<RTMPClient>> ConnectAsync(std::string url,
                                                      RTMPClient::Callbacks callbacks = {},
                                                      RTMPClient::Options options = {}) {
    return std::async(std::launch::async,
                      [=] { return std::make_shared<RTMPClient>(url, "cam", callbacks, options); });
}

TEST(RTMPClientTest, HandshakeEchoesS1AndConnectNamesAppAndTcUrl) {
    struct Case {
        const char* name;
        std::string path;
        std::string app;
    };

    const Case cases[] = {
            {"one piece", "/live", "live"},
            {"trailing slash", "/a/b/", "a/b"},
            {"empty pieces vanish", "//a//b", "a/b"},
            {"query kept", "/live?token=x", "live?token=x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        const std::string host = "127.0.0.1:" + std::to_string(server.peer.port());
        auto client = ConnectAsync("rtmp://" + host + c.path);
        const auto c2 = server.Handshake();
        EXPECT_EQ(server.c0c1[0], 3);
        EXPECT_EQ(std::vector<uint8_t>(server.c0c1.begin() + 1, server.c0c1.end()),
                  std::vector<uint8_t>(1536, 0));
        EXPECT_EQ(c2, server.s1);
        RTMPPacket message(MediaType::None, MediaCodec::None, RTMPChannel::Audio,
                           RTMPPacketType::Audio, 0);
        const auto connect = server.ReadCommand(&message);
        EXPECT_EQ(message.Header().channel, RTMPChannel::Command);
        ASSERT_EQ(connect.size(), 3U);
        EXPECT_EQ(connect[0]->ToStringImpl(), "STRING: connect");
        EXPECT_EQ(connect[1]->ToStringImpl(), "NUMBER: 1.000000");
        const auto& object = static_cast<const AMFObject&>(*connect[2]);
        EXPECT_EQ(object.GetValue("app")->ToStringImpl(), "STRING: " + c.app);
        EXPECT_EQ(object.GetValue("tcUrl")->ToStringImpl(), "STRING: rtmp://" + host + "/" + c.app);
        EXPECT_EQ(object.GetValue("flashVer")->ToStringImpl(),
                  "STRING: FMLE/3.0 (compatible; livestreamer)");
        const std::string body(message.Data().begin(), message.Data().end());
        EXPECT_LT(body.find("app"), body.find("flashVer"));
        EXPECT_LT(body.find("flashVer"), body.find("tcUrl"));
        EXPECT_LT(body.find("tcUrl"), body.find("type"));
        EXPECT_EQ(client.get()->GetAppName(), c.app);
    }
}

TEST(RTMPClientTest, AnnouncesItsAcknowledgementWindowAndChunkSizeAndAnswersSetPeerBandwidth) {
    FakeServer server;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live");
    server.Handshake();
    server.ReadCommand();  // connect
    ASSERT_EQ(server.control.size(), 2U);
    EXPECT_EQ(server.control[0].Header().packetType, RTMPPacketType::WindowAcknowledgementSize);
    EXPECT_EQ(server.control[0].Header().channel, RTMPChannel::Control);
    EXPECT_EQ(ToHex(server.control[0].Data()), "00 26 25 A0");  // 2,500,000 bytes
    EXPECT_EQ(server.control[1].Header().packetType, RTMPPacketType::SetChunkSize);
    EXPECT_EQ(server.control[1].Header().channel, RTMPChannel::Control);
    EXPECT_EQ(ToHex(server.control[1].Data()), "00 00 10 00");  // 4096 bytes
    auto client = pending.get();

    // A new window is answered with that window; the one announced last is not answered again.
    server.WriteControl(RTMPPacketType::SetPeerBandwidth, Hex("00 10 00 00 02"));
    server.WriteControl(RTMPPacketType::SetPeerBandwidth, Hex("00 10 00 00 02"));
    server.WriteControl(RTMPPacketType::UserControl, Hex("00 06 00 00 00 01"));
    const auto answer = server.wire.ReadMessage();
    EXPECT_EQ(answer.Header().packetType, RTMPPacketType::WindowAcknowledgementSize);
    EXPECT_EQ(ToHex(answer.Data()), "00 10 00 00");
    EXPECT_EQ(server.wire.ReadMessage().Header().packetType, RTMPPacketType::UserControl);
    server.peer.CloseConnection();
}

// Video frames of tens of kilobytes go out in 4096-byte chunks, not the protocol's default 128:
// small chunks cost the server a chunk header to take apart every 128 bytes.
TEST(RTMPClientTest, SendsAFrameInChunksOfTheAnnouncedSize) {
    FakeServer server;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live");
    server.Handshake();
    server.AcceptPublish();
    auto client = pending.get();
    EXPECT_EQ(server.wire.ChunkSize(), 4096U);

    client->PutFrame(Tag(kFLVTagFileHeader, {}));
    std::vector<uint8_t> body(10000);
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<uint8_t>(i * 7);
    }
    FLVFrame tag = Tag(kFLVTagVideo, body, 0.04);
    tag.Data()[1] = static_cast<uint8_t>(body.size() >> 16);
    tag.Data()[2] = static_cast<uint8_t>(body.size() >> 8);
    tag.Data()[3] = static_cast<uint8_t>(body.size());
    client->PutFrame(tag);
    const uint64_t before = server.wire.BytesRead();
    const auto video = server.ReadMessage();
    EXPECT_EQ(video.Header().packetType, RTMPPacketType::Video);
    EXPECT_EQ(video.Data(), body);
    // One header of at most 12 bytes, then a 1-byte header before each of the 2 later chunks.
    EXPECT_LE(server.wire.BytesRead() - before, body.size() + 12 + 2);
    server.peer.CloseConnection();
}

TEST(RTMPClientTest, RefusesAServerOfAnotherProtocolVersion) {
    FakeServer server;
    auto client = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live");
    server.Handshake(6);
    try {
        client.get();
        ADD_FAILURE() << "connected";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "unknown rtmp protocol version");
    }
}

TEST(RTMPClientTest, HandshakeFromAServerTricklingBytesEndsAtTheSetUpDeadline) {
    FakeServer server;
    RTMPClient::Options options;
    options.timeouts.receive = 1s;  // each byte comes well within it
    options.setupTimeout = 300ms;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                                {}, options);
    server.peer.Accept();
    server.peer.Read(1537);
    try {
        for (int i = 0; i < 100 && !server.peer.WaitForHangUp(50); ++i) {
            server.peer.Write({3});  // S0, then S1 byte by byte
        }
    } catch (const std::runtime_error&) {
        // The client hung up between two bytes.
    }
    server.peer.CloseConnection();
    try {
        pending.get();
        ADD_FAILURE() << "connected";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "network receive timed out");
    }
}

TEST(RTMPClientTest, PublishesSendsTagsAnswersPingsAndClosesWithoutANewStart) {
    FakeServer server;
    Events events;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                                events.Callbacks());
    server.Handshake();
    // The server's chunk size applies to what we read; 0 and short bodies are ignored.
    test::RTMPWireWriter control(RTMPChannel::Control);
    server.peer.Write(control.Bytes(RTMPPacketType::SetChunkSize, Hex("00 00 00 00")));
    server.peer.Write(control.Bytes(RTMPPacketType::SetChunkSize, Hex("00 10")));
    server.peer.Write(control.Bytes(RTMPPacketType::SetChunkSize, Hex("00 00 10 00")));
    server.commands.SetChunkSize(4096);
    const auto publish = server.AcceptPublish();
    ASSERT_EQ(publish.size(), 5U);
    EXPECT_EQ(publish[0]->ToStringImpl(), "STRING: publish");
    EXPECT_EQ(publish[3]->ToStringImpl(), "STRING: cam");
    EXPECT_EQ(publish[4]->ToStringImpl(), "STRING: record");
    auto client = pending.get();

    client->PutFrame(Tag(kFLVTagFileHeader, {}));  // returns once publishing has started
    EXPECT_EQ(client->StreamId(), 1U);
    client->PutFrame(Tag(kFLVTagScriptData, EncodeAmf({AMFValue::String("onMetaData")})));
    client->PutFrame(Tag(kFLVTagVideo, Hex("17 01 00 00 00 AA BB"), 0.04));
    auto metadata = server.wire.ReadMessage();
    EXPECT_EQ(metadata.Header().packetType, RTMPPacketType::Data);
    EXPECT_EQ(metadata.Header().messageStreamId, 1U);
    EXPECT_EQ(DecodeAmf(metadata.Data())[0]->ToStringImpl(), "STRING: @setDataFrame");
    auto video = server.wire.ReadMessage();
    EXPECT_EQ(video.Header().channel, RTMPChannel::Video);
    EXPECT_EQ(video.Header().packetType, RTMPPacketType::Video);
    EXPECT_EQ(video.Header().messageStreamId, 1U);
    EXPECT_EQ(video.Header().timestamp, 40U);
    EXPECT_EQ(ToHex(video.Data()), "17 01 00 00 00 AA BB");

    server.peer.Write(control.Bytes(RTMPPacketType::UserControl, Hex("00 06 00 00 30 39"), 0));
    const auto pong = server.wire.ReadMessage();
    EXPECT_EQ(pong.Header().channel, RTMPChannel::Control);
    EXPECT_EQ(pong.Header().packetType, RTMPPacketType::UserControl);
    EXPECT_EQ(ToHex(pong.Data()), "00 07 00 00 30 39");
    EXPECT_EQ(pong.Header().timestamp, 1U);

    auto closing = std::async(std::launch::async, [&] { client->Close(); });
    const auto fcUnpublish = server.ReadCommand();
    EXPECT_EQ(fcUnpublish[0]->ToStringImpl(), "STRING: FCUnpublish");
    const auto deleteStream = server.ReadCommand();
    EXPECT_EQ(deleteStream[0]->ToStringImpl(), "STRING: deleteStream");
    EXPECT_EQ(deleteStream[3]->ToStringImpl(), "NUMBER: 1.000000");
    // A server may answer the end of the stream with a start status: it must not count.
    server.WriteCommand({AMFValue::String("onStatus"), AMFValue::Number(0), AMFValue::Null(),
                         Status("status", "NetStream.Publish.Start")},
                        1);
    EXPECT_TRUE(server.peer.ReadsEndOfStream());
    server.peer.CloseConnection();
    closing.get();
    client->Close();
    client.reset();
    EXPECT_EQ(events.starts.load(), 1);
    EXPECT_EQ(events.stops.load(), 1);
    EXPECT_TRUE(events.Errors().empty());
}

// A server that hangs up after our own end of the stream is how every stop ends: it prints no
// error. One that hangs up while the stream runs is an error, printed and told to the owner.
TEST(RTMPClientTest, OnlyAServerThatHangsUpWhileTheStreamRunsIsAReceiverError) {
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "a stop" : "a hang-up while publishing");
        foundation::Console::Capture console;
        FakeServer server;
        Events events;
        auto pending =
                ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                             events.Callbacks());
        server.Handshake();
        server.AcceptPublish();
        auto client = pending.get();
        client->PutFrame(Tag(kFLVTagFileHeader, {}));
        if (stop) {
            auto closing = std::async(std::launch::async, [&] { client->Close(); });
            EXPECT_EQ(server.ReadCommand()[0]->ToStringImpl(), "STRING: FCUnpublish");
            EXPECT_EQ(server.ReadCommand()[0]->ToStringImpl(), "STRING: deleteStream");
            EXPECT_TRUE(server.peer.ReadsEndOfStream());
            server.peer.CloseConnection();
            closing.get();
        } else {
            server.peer.CloseConnection();
            EXPECT_TRUE(test::waitUntil([&] { return !events.Errors().empty(); }));
            client->Close();
        }
        client.reset();
        const auto lines = console.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "rtmp receiver error: netowrk recv data failed"),
                  stop ? 0 : 1)
                << ::testing::PrintToString(lines);
        EXPECT_EQ(events.Errors(), stop ? std::vector<std::string>{}
                                        : std::vector<std::string>{"netowrk recv data failed"});
        EXPECT_EQ(events.stops.load(), 1);
    }
}

TEST(RTMPClientTest, ServerRefusalsReachTheErrorCallbackAndEndTheWaitAtOnce) {
    struct Case {
        const char* name;
        bool refuseConnect;
        std::vector<uint8_t> rawCommand;  // sent instead of a publish answer when not empty
        std::string error;
    };

    const Case cases[] = {
            {"connect refused",
             true,
             {},
             "NULL, OBJECT: {\ncode STRING: NetConnection.Connect.Rejected\nlevel STRING: "
             "error\n}"},
            {"publish refused",
             false,
             {},
             "NULL, OBJECT: {\ncode STRING: NetStream.Publish.BadName\nlevel STRING: error\n}"},
            {"undecodable command", false, Hex("02 00 01 78 0A 00 00 00 00"), "unknown AMF type"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        Events events;
        auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/x",
                                    events.Callbacks());
        server.Handshake();
        server.ReadCommand();
        if (c.refuseConnect) {
            server.WriteCommand({AMFValue::String("_error"), AMFValue::Number(1), AMFValue::Null(),
                                 Status("error", "NetConnection.Connect.Rejected")});
        } else {
            server.WriteCommand({AMFValue::String("_result"), AMFValue::Number(1)});
            server.ReadCommand();
            server.WriteCommand({AMFValue::String("_result"), AMFValue::Number(2), AMFValue::Null(),
                                 AMFValue::Number(1)});
            server.ReadCommand();
            if (c.rawCommand.empty()) {
                server.WriteCommand(
                        {AMFValue::String("onStatus"), AMFValue::Number(0), AMFValue::Null(),
                         Status("error", "NetStream.Publish.BadName")},
                        1);
            } else {
                server.peer.Write(server.commands.Bytes(RTMPPacketType::Command, c.rawCommand));
            }
        }
        auto client = pending.get();
        try {
            client->PutFrame(Tag(kFLVTagFileHeader, {}));
            ADD_FAILURE() << "publishing";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "can't start publishing");
        }
        EXPECT_EQ(events.Errors(), std::vector<std::string>{c.error});
        EXPECT_EQ(events.starts.load(), 0);
        server.peer.CloseConnection();
    }
}

TEST(RTMPClientTest, WaitForPublishingEndsAfterItsTimeOutAndMediaBeforeItIsDropped) {
    FakeServer server;
    RTMPClient::Options options;
    options.publishTimeout = 50ms;
    options.closeTimeout = 50ms;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                                {}, options);
    server.Handshake();
    server.ReadCommand();
    auto client = pending.get();
    EXPECT_THAT([&] { client->PutFrame(Tag(kFLVTagFileHeader, {})); },
                test::ThrowsWithText("can't start publishing"));
    client->PutFrame(Tag(kFLVTagVideo, Hex("17 01 00 00 00 AA"), 0));  // dropped, not sent
    FLVFrame shortTag(MediaType::Video, MediaCodec::H264, kFLVTagVideo);
    shortTag.Data() = Hex("09 00 00 00 00 00 00 00 00 00 00 00 00 00");
    try {
        client->PutFrame(shortTag);
        ADD_FAILURE() << "short tag accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "FLV tag too short");
    }
    client->Close();
    // Nothing but the connect command reached the server.
    EXPECT_TRUE(server.peer.ReadToEnd().empty());
}

TEST(RTMPClientTest, LateConfirmationSendsTheConfigurationBeforeTheFirstMediaAndAKeyFrame) {
    FakeServer server;
    Events events;
    RTMPClient::Options options;
    options.publishTimeout = 50ms;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                                events.Callbacks(), options);
    server.Handshake();
    server.AnswerUntilPublish();
    auto client = pending.get();
    EXPECT_THAT([&] { client->PutFrame(Tag(kFLVTagFileHeader, {})); },
                test::ThrowsWithText("can't start publishing"));
    client->PutFrame(Tag(kFLVTagScriptData, EncodeAmf({AMFValue::String("onMetaData")})));
    client->PutFrame(Tag(kFLVTagVideo, Hex("17 00 00 00 00 01 42 C0"), 0));
    client->PutFrame(Tag(kFLVTagAudio, Hex("AF 00 12 10"), 0));
    client->PutFrame(Tag(kFLVTagVideo, Hex("17 01 00 00 00 AA"), 0));  // nowhere to go yet
    server.ConfirmPublish();
    ASSERT_TRUE(events.WaitForStart());
    client->PutFrame(Tag(kFLVTagVideo, Hex("27 01 00 00 00 BB"), 1.0));  // needs the lost key frame
    client->PutFrame(Tag(kFLVTagAudio, Hex("AF 01 CC"), 1.0));
    client->PutFrame(Tag(kFLVTagVideo, Hex("17 01 00 00 00 DD"), 1.04));

    const auto metadata = server.ReadMessage();
    EXPECT_EQ(metadata.Header().packetType, RTMPPacketType::Data);
    EXPECT_EQ(DecodeAmf(metadata.Data())[1]->ToStringImpl(), "STRING: onMetaData");

    struct Expected {
        RTMPPacketType type;
        const char* body;
        uint32_t timestamp;
    };

    const Expected expected[] = {
            {RTMPPacketType::Video, "17 00 00 00 00 01 42 C0", 1000},
            {RTMPPacketType::Audio, "AF 00 12 10", 1000},
            {RTMPPacketType::Audio, "AF 01 CC", 1000},
            {RTMPPacketType::Video, "17 01 00 00 00 DD", 1040},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.body);
        const auto message = server.ReadMessage();
        EXPECT_EQ(message.Header().packetType, e.type);
        EXPECT_EQ(ToHex(message.Data()), e.body);
        EXPECT_EQ(message.Header().timestamp, e.timestamp);
    }
    server.peer.CloseConnection();
}

TEST(RTMPClientTest, CloseFromItsOwnErrorCallbackEndsTheStreamAndStopsOnce) {
    FakeServer server;
    Events events;
    auto pending = ConnectAsync("rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live",
                                events.Callbacks());
    server.Handshake();
    server.ReadCommand();
    auto client = pending.get();
    // The owner gives up on the first error, from the receiver thread that reports it.
    client->SetErrorCallback([&client](std::string) { client->Close(); });
    server.WriteCommand({AMFValue::String("_error"), AMFValue::Number(1), AMFValue::Null(),
                         Status("error", "NetConnection.Connect.Rejected")});
    EXPECT_TRUE(server.peer.ReadsEndOfStream());
    EXPECT_THAT([&] { client->PutFrame(Tag(kFLVTagFileHeader, {})); },
                test::ThrowsWithText("can't start publishing"));
    // The close may still be under way on the receiver thread: the command meets either the
    // shut connection or the closed client.
    EXPECT_THAT([&] { client->CreateStream({}); },
                ::testing::ThrowsMessage<std::runtime_error>(
                        ::testing::AnyOf("not connected", "network send data failed")));
    server.peer.CloseConnection();
    client->Close();
    client.reset();
    EXPECT_EQ(events.stops.load(), 1);
}

}  // namespace
}  // namespace pelmar::live
