#include "pelmar/live/NetworkConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/live/NetworkBitstreamReader.h"
#include "pelmar/live/NetworkBitstreamWriter.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/LoopbackPeer.h"

namespace pelmar::live {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ToHex;

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(NetworkConnectionTest, ConnectFailsWithClearErrors) {
    uint16_t closedPort = 0;
    {
        test::LoopbackPeer peer;  // a port that was free a moment ago and is closed now
        closedPort = peer.port();
    }

    struct Case {
        const char* name;
        std::string host;
        uint16_t port;
        const char* error;
    };

    const Case cases[] = {
            {"unknown host", "no-such-host.invalid", 1935, "unknown host: no-such-host.invalid"},
            {"refused port", "127.0.0.1", closedPort, "can't connect socket"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkConnection connection;
        EXPECT_EQ(ErrorOf([&] { connection.Connect(c.host, c.port); }), c.error);
        EXPECT_EQ(connection.SocketFd(), -1);
    }
}

TEST(NetworkConnectionTest, SendAndReceiveTimeOutOnAStalledPeer) {
    test::LoopbackPeer peer;
    NetworkConnection::Timeouts timeouts;
    timeouts.send = 100ms;
    timeouts.receive = 100ms;
    NetworkConnection connection(timeouts);
    connection.Connect("localhost", peer.port());
    peer.Accept();
    uint8_t byte = 0;
    EXPECT_EQ(ErrorOf([&] { connection.Receive(&byte, 1); }), "network receive timed out");
    // The peer never reads: the socket buffers fill up and the send gives up.
    const std::vector<uint8_t> block(1 << 20, 0x55);
    EXPECT_EQ(ErrorOf([&] {
                  for (int i = 0; i < 1024; ++i) {
                      connection.Send(block.data(), block.size());
                  }
              }),
              "network send timed out");
}

TEST(NetworkConnectionTest, OneSendGivesUpAtItsDeadlineWhileTheServerReadsSlowly) {
    test::LoopbackPeer peer;
    NetworkConnection::Timeouts timeouts;
    timeouts.send = 300ms;
    NetworkConnection connection(timeouts);
    connection.Connect("127.0.0.1", peer.port());
    peer.Accept();
    // Every read makes room for more, so no single wait of the send is long; the whole is.
    auto reading = std::async(std::launch::async, [&] {
        for (int i = 0; i < 250 && peer.ReadSome(1 << 16) > 0 && !peer.WaitForHangUp(20); ++i) {
        }
        peer.CloseConnection();
    });
    const std::vector<uint8_t> message(64 << 20, 0x55);
    EXPECT_EQ(ErrorOf([&] { connection.Send(message.data(), message.size()); }),
              "network send timed out");
    connection.Close();
    reading.get();
}

TEST(NetworkConnectionTest, BitstreamsSendAndReceiveBitsAndRuns) {
    test::LoopbackPeer peer;
    NetworkConnection connection;
    connection.Connect("127.0.0.1", peer.port());
    peer.Accept();
    NetworkBitstreamWriter writer(connection);
    writer.PutBits(3, 2);
    EXPECT_EQ(ErrorOf([&] {
                  const uint8_t b[1] = {1};
                  writer.PutBytes(b, b + 1);
              }),
              "bitstream writer is not aligned");
    writer.PutBits(5, 6);
    std::vector<uint8_t> run(3000);
    for (size_t i = 0; i < run.size(); ++i) {
        run[i] = static_cast<uint8_t>(i);
    }
    writer.PutBytes(run.begin(), run.end());
    EXPECT_EQ(ToHex(peer.Read(1)), "C5");
    EXPECT_EQ(peer.Read(run.size()), run);

    peer.Write(Hex("A5 01 02 03"));
    NetworkBitstreamReader reader(connection);
    EXPECT_EQ(reader.GetBits(4), 0xAU);
    std::vector<uint8_t> out(3);
    EXPECT_EQ(ErrorOf([&] { reader.GetBytes(out.begin(), 3); }), "bitstream reader is not aligned");
    EXPECT_EQ(reader.GetBits(4), 0x5U);
    reader.GetBytes(out.begin(), 3);
    EXPECT_EQ(ToHex(out), "01 02 03");
}

}  // namespace
}  // namespace pelmar::live
