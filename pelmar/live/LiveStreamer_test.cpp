#include "pelmar/live/LiveStreamer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "pelmar/live/testing/LoopbackPeer.h"
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

}  // namespace
}  // namespace pelmar::live
