#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/RTMPPacket.h"
#include "pelmar/live/testing/LoopbackPeer.h"
#include "pelmar/live/testing/RTMPWire.h"

// ScriptedRtmpServer: an RTMP server for tests, scripted step by step on a LoopbackPeer: it
// answers the handshake, reads the client's commands (setting aside the protocol control messages
// that come between them) and writes commands and control messages back, so a test decides what
// the server says and when. Plus AMF0 helpers to build and read command bodies.
// Ownership: owns the peer and the wire reader and writer.
// Threads: thread-compatible (one test thread drives it).
// Errors: the peer's and the chunk parser's exceptions; a message that is not the expected kind
//         fails the running test.

namespace pelmar::test {

inline std::vector<uint8_t> EncodeAmf(const std::vector<std::shared_ptr<live::AMFValue>>& values) {
    std::vector<uint8_t> bytes;
    live::BitstreamWriter writer(bytes);
    for (const auto& value : values) {
        value->WriteImpl(writer);
    }
    return bytes;
}

inline std::vector<std::shared_ptr<live::AMFValue>> DecodeAmf(const std::vector<uint8_t>& body) {
    live::BitstreamReader reader(body);
    std::vector<std::shared_ptr<live::AMFValue>> values;
    while (reader.RemainingDataSize() > 0) {
        values.push_back(live::AMFValue::ReadValue(reader));
    }
    return values;
}

// An onStatus or _error information object.
inline std::shared_ptr<live::AMFValue> StatusObject(const std::string& level,
                                                    const std::string& code) {
    auto object = std::make_shared<live::AMFObject>();
    object->AddValue("level", live::AMFValue::String(level));
    object->AddValue("code", live::AMFValue::String(code));
    return object;
}

class ScriptedRtmpServer {
public:
    // Accepts and answers the handshake with S0 = `version`; returns C2.
    std::vector<uint8_t> Handshake(uint8_t version = 3) {
        peer.Accept();
        c0c1 = peer.Read(1537);
        std::vector<uint8_t> s0s1s2(1 + 2 * 1536);
        s0s1s2[0] = version;
        for (size_t i = 1; i <= 1536; ++i) {
            s0s1s2[i] = static_cast<uint8_t>(i * 13);  // S1: server time 0x0D1A2734, then "random"
        }
        peer.Write(s0s1s2);
        if (version != 3) {
            return {};
        }
        s1.assign(s0s1s2.begin() + 1, s0s1s2.begin() + 1537);
        return peer.Read(1536);
    }

    // The next message that is not a protocol control message (those are kept in `control`).
    live::RTMPPacket ReadMessage() {
        for (;;) {
            auto packet = wire.ReadMessage();
            const auto type = static_cast<uint8_t>(packet.Header().packetType);
            if (type < 1 || type > 6) {
                return packet;
            }
            control.push_back(packet);
        }
    }

    std::vector<std::shared_ptr<live::AMFValue>> ReadCommand(live::RTMPPacket* message = nullptr) {
        const auto packet = ReadMessage();
        if (message != nullptr) {
            *message = packet;
        }
        EXPECT_EQ(packet.Header().packetType, live::RTMPPacketType::Command);
        return DecodeAmf(packet.Data());
    }

    void WriteCommand(const std::vector<std::shared_ptr<live::AMFValue>>& values,
                      uint32_t msid = 0) {
        peer.Write(commands.Bytes(live::RTMPPacketType::Command, EncodeAmf(values), 0, msid));
    }

    void WriteControl(live::RTMPPacketType type, std::vector<uint8_t> body, double pts = 0) {
        peer.Write(controlWriter.Bytes(type, std::move(body), pts));
    }

    // Answers connect and createStream (stream id 1) and reads publish; returns that command.
    std::vector<std::shared_ptr<live::AMFValue>> AnswerUntilPublish() {
        ReadCommand();
        WriteCommand({live::AMFValue::String("_result"), live::AMFValue::Number(1),
                      live::AMFValue::Null(),
                      StatusObject("status", "NetConnection.Connect.Success")});
        ReadCommand();
        WriteCommand({live::AMFValue::String("_result"), live::AMFValue::Number(2),
                      live::AMFValue::Null(), live::AMFValue::Number(1)});
        return ReadCommand();
    }

    void ConfirmPublish() {
        WriteCommand({live::AMFValue::String("onStatus"), live::AMFValue::Number(0),
                      live::AMFValue::Null(), StatusObject("status", "NetStream.Publish.Start")},
                     1);
    }

    // connect, createStream and publish answered; returns the publish command.
    std::vector<std::shared_ptr<live::AMFValue>> AcceptPublish() {
        auto publish = AnswerUntilPublish();
        ConfirmPublish();
        return publish;
    }

    LoopbackPeer peer;
    RTMPWireReader wire{peer};
    RTMPWireWriter commands{static_cast<live::RTMPChannel>(5)};
    RTMPWireWriter controlWriter{live::RTMPChannel::Control};
    std::vector<uint8_t> c0c1;
    std::vector<uint8_t> s1;
    std::vector<live::RTMPPacket> control;  // protocol control messages read so far
};

}  // namespace pelmar::test
