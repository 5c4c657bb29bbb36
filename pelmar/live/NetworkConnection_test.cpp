#include "pelmar/live/NetworkConnection.h"

#include <gmock/gmock.h>
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
#include "pelmar/live/testing/RefusingPort.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ToHex;

TEST(NetworkConnectionTest, ConnectFailsWithClearErrors) {
    const test::RefusingPort refusing;

    struct Case {
        const char* name;
        std::string host;
        uint16_t port;
        const char* error;
    };

    const Case cases[] = {
            {"unknown host", "no-such-host.invalid", 1935, "unknown host: no-such-host.invalid"},
            {"refused port", "127.0.0.1", refusing.port(), "can't connect socket"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkConnection connection;
        EXPECT_THAT([&] { connection.Connect(c.host, c.port); }, test::ThrowsWithText(c.error));
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
    EXPECT_THAT([&] { connection.Receive(&byte, 1); },
                test::ThrowsWithText("network receive timed out"));
    // The peer never reads: the socket buffers fill up and the send gives up.
    const std::vector<uint8_t> block(1 << 20, 0x55);
    EXPECT_THAT(
            [&] {
                for (int i = 0; i < 1024; ++i) {
                    connection.Send(block.data(), block.size());
                }
            },
            test::ThrowsWithText("network send timed out"));
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
    EXPECT_THAT([&] { connection.Send(message.data(), message.size()); },
                test::ThrowsWithText("network send timed out"));
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
    EXPECT_THAT(
            [&] {
                const uint8_t b[1] = {1};
                writer.PutBytes(b, b + 1);
            },
            test::ThrowsWithText("bitstream writer is not aligned"));
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
    EXPECT_THAT([&] { reader.GetBytes(out.begin(), 3); },
                test::ThrowsWithText("bitstream reader is not aligned"));
    EXPECT_EQ(reader.GetBits(4), 0x5U);
    reader.GetBytes(out.begin(), 3);
    EXPECT_EQ(ToHex(out), "01 02 03");
}

}  // namespace
}  // namespace pelmar::live
