#include "pelmar/live/LiveStreamer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/testing/LoopbackPeer.h"
#include "pelmar/live/testing/RTMPWire.h"
#include "pelmar/platform/foundation/Log.h"

namespace pelmar::live {
namespace {

class CountingDelegate : public LiveStreamerDelegate {
public:
    void onError(const std::string&) override { ++calls; }

    void onPublishStart() override { ++calls; }

    void onPublishStop() override { ++calls; }

    std::atomic<int> calls{0};
};

// A loopback port on which nothing listens.
uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(LiveStreamerTest, FailedConnectionYieldsNoStreamerAndNoDelegateCall) {
    test::LoopbackPeer silent;  // listens, but never answers the handshake

    struct Case {
        const char* name;
        std::string address;
        const char* logged;
    };

    const Case cases[] = {
            {"closed port", "rtmp://127.0.0.1:" + std::to_string(ClosedPort()) + "/live",
             "can't connect socket"},
            {"silent server", "rtmp://127.0.0.1:" + std::to_string(silent.port()) + "/live",
             nullptr},
            {"port out of range", "rtmp://127.0.0.1:70000/live", "invalid port"},
    };
    RTMPClient::Options options;
    options.timeouts.connect = std::chrono::milliseconds(500);
    options.timeouts.receive = std::chrono::milliseconds(200);
    options.timeouts.send = std::chrono::milliseconds(200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Log::Capture log;
        auto delegate = std::make_shared<CountingDelegate>();
        EXPECT_EQ(LiveStreamer::create(c.address, "cam", delegate, options), nullptr);
        EXPECT_EQ(delegate->calls.load(), 0);
        EXPECT_FALSE(log.lines().empty());
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.contains(c.logged));
        }
        EXPECT_FALSE(log.contains("RTMP client connected"));
    }
}

// Gives up on the streamer at the first error, on the thread that reports it: stops it, or lets
// go of the only reference to it.
class GivingUpDelegate : public LiveStreamerDelegate {
public:
    void onError(const std::string&) override {
        if (owned) {
            owned.reset();
            gaveUp.set_value();
        } else if (auto target = streamer.lock()) {
            target->stop();
        }
    }

    void onPublishStop() override { gaveUp.set_value(); }

    std::weak_ptr<LiveStreamer> streamer;
    std::shared_ptr<LiveStreamer> owned;
    std::promise<void> gaveUp;
};

TEST(LiveStreamerTest, DelegateMayStopOrReleaseTheStreamerWhenTheServerRefusesIt) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "stopped");
        test::LoopbackPeer server;
        auto delegate = std::make_shared<GivingUpDelegate>();
        auto pending = std::async(std::launch::async, [&] {
            return LiveStreamer::create(
                    "rtmp://127.0.0.1:" + std::to_string(server.port()) + "/live", "cam", delegate);
        });
        server.Accept();
        server.Read(1537);
        std::vector<uint8_t> s0s1s2(1 + 2 * 1536, 0);
        s0s1s2[0] = 3;
        server.Write(s0s1s2);
        server.Read(1536);
        test::RTMPWireReader wire(server);
        EXPECT_EQ(wire.ReadMessage().Header().packetType, RTMPPacketType::Command);  // connect
        auto streamer = pending.get();
        ASSERT_NE(streamer, nullptr);
        delegate->streamer = streamer;
        if (release) {
            delegate->owned = std::move(streamer);
        }

        std::vector<uint8_t> refusal;
        BitstreamWriter writer(refusal);
        AMFString("_error").WriteImpl(writer);
        AMFNumber(1).WriteImpl(writer);
        AMFNull().WriteImpl(writer);
        auto status = std::make_shared<AMFObject>();
        status->AddValue("level", AMFValue::String("error"));
        status->AddValue("code", AMFValue::String("NetConnection.Connect.Rejected"));
        status->WriteImpl(writer);
        test::RTMPWireWriter commands(static_cast<RTMPChannel>(5));
        server.Write(commands.Bytes(RTMPPacketType::Command, refusal));

        delegate->gaveUp.get_future().get();
        EXPECT_TRUE(server.ReadsEndOfStream());
        if (streamer) {
            streamer->stop();
        }
    }
}
}  // namespace
}  // namespace pelmar::live
