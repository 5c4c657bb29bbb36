#include "pelmar/live/RemoteProcedureCaller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/testing/Bytes.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::ToHex;

std::vector<uint8_t> Encode(const std::vector<std::shared_ptr<AMFValue>>& values) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    for (const auto& value : values) {
        value->WriteImpl(writer);
    }
    return bytes;
}

RTMPPacket Command(std::vector<uint8_t> body, RTMPPacketType type = RTMPPacketType::Command) {
    RTMPPacket packet(MediaType::None, MediaCodec::None, RTMPChannel::Command, type, 0);
    packet.Data() = std::move(body);
    return packet;
}

std::shared_ptr<AMFValue> Info(const std::string& level, const std::string& code) {
    auto object = std::make_shared<AMFObject>();
    object->AddValue("level", AMFValue::String(level));
    object->AddValue("code", AMFValue::String(code));
    return object;
}

class RemoteProcedureCallerTest : public ::testing::Test {
protected:
    RemoteProcedureCallerTest()
        : caller_(std::make_shared<MediaCallback<RTMPPacket>>(
                [this](RTMPPacket p) { sent_.push_back(p); })) {
        caller_.SetErrorHandler([this](auto c, auto i) {
            events_.push_back("error " + c->ToStringImpl() + " | " + i->ToStringImpl());
        });
        caller_.SetStatusHandler([this](auto c, auto i) {
            events_.push_back("status " + c->ToStringImpl() + " | " + i->ToStringImpl());
        });
    }

    RemoteProcedureCaller caller_;
    std::vector<RTMPPacket> sent_;
    std::vector<std::string> events_;
};

TEST_F(RemoteProcedureCallerTest, CallsCarryRisingIdsAndTheirValues) {
    caller_.Call(RTMPChannel::Command, "connect", AMFValue::Object(), {}, 0);
    caller_.Call(RTMPChannel::Command, "createStream", std::shared_ptr<AMFValue>(), {}, 0);
    caller_.Call(RTMPChannel::Stream, "publish", nullptr, AMFValue::String("s"),
                 AMFValue::String("record"), {}, 7);
    ASSERT_EQ(sent_.size(), 3U);
    EXPECT_EQ(ToHex(sent_[0].Data()),
              ToHex(Concat({Hex("02 00 07"),
                            {'c', 'o', 'n', 'n', 'e', 'c', 't'},
                            Hex("00 3F F0 00 00 00 00 00 00 03 00 00 09")})));
    // An empty value is written as null.
    EXPECT_EQ(ToHex({sent_[1].Data().end() - 10, sent_[1].Data().end()}),
              "00 40 00 00 00 00 00 00 00 05");
    EXPECT_EQ(ToHex({sent_[2].Data().begin() + 10, sent_[2].Data().begin() + 19}),
              "00 40 08 00 00 00 00 00 00");
    EXPECT_EQ(sent_[2].Header().channel, RTMPChannel::Stream);
    EXPECT_EQ(sent_[2].Header().messageStreamId, 7U);
    EXPECT_EQ(sent_[2].Header().packetType, RTMPPacketType::Command);
}

TEST_F(RemoteProcedureCallerTest, DispatchesRepliesByNameAndTransaction) {
    std::vector<std::string> results;
    auto record = [&](int n) {
        return [&results, n](auto c, auto i) {
            results.push_back(std::to_string(n) + " " + c->ToStringImpl() + " | "
                              + i->ToStringImpl());
        };
    };
    caller_.Call(RTMPChannel::Command, "connect", AMFValue::Object(), record(1), 0);
    caller_.Call(RTMPChannel::Command, "createStream", nullptr, record(2), 0);
    caller_.Call(RTMPChannel::Command, "other", nullptr, record(3), 0);

    struct Case {
        const char* name;
        std::vector<std::shared_ptr<AMFValue>> values;
        std::vector<std::string> results;
        std::vector<std::string> events;
    };

    const Case cases[] = {
            {"result for call 2",
             {AMFValue::String("_result"), AMFValue::Number(2), AMFValue::Null(),
              AMFValue::Number(1)},
             {"2 NULL | NUMBER: 1.000000"},
             {}},
            {"a result is delivered once",
             {AMFValue::String("_result"), AMFValue::Number(2), AMFValue::Null(),
              AMFValue::Number(1)},
             {},
             {}},
            {"name and id only give two nulls",
             {AMFValue::String("_result"), AMFValue::Number(1)},
             {"1 NULL | NULL"},
             {}},
            {"status",
             {AMFValue::String("onStatus"), AMFValue::Number(0), AMFValue::Null(),
              Info("status", "s")},
             {},
             {"status"}},
            {"status of level error goes to the error handler",
             {AMFValue::String("onStatus"), AMFValue::Number(0), AMFValue::Null(),
              Info("error", "e")},
             {},
             {"error"}},
            {"error reply, and its call's callback never runs",
             {AMFValue::String("_error"), AMFValue::Number(3), AMFValue::Null(), AMFValue::Null()},
             {},
             {"error"}},
            {"result for the failed call 3 is dropped",
             {AMFValue::String("_result"), AMFValue::Number(3)},
             {},
             {}},
            {"other names are ignored",
             {AMFValue::String("onBWDone"), AMFValue::Number(0)},
             {},
             {}},
            {"first value not a string", {AMFValue::Number(1), AMFValue::Number(1)}, {}, {}},
            {"second value not a number",
             {AMFValue::String("_result"), AMFValue::String("1")},
             {},
             {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        results.clear();
        events_.clear();
        caller_.PutFrame(Command(Encode(c.values)));
        EXPECT_EQ(results, c.results);
        ASSERT_EQ(events_.size(), c.events.size());
        for (size_t i = 0; i < events_.size(); ++i) {
            EXPECT_EQ(events_[i].substr(0, c.events[i].size()), c.events[i]);
        }
    }
    // Not a command message, and an undecodable body.
    caller_.PutFrame(Command(Encode({AMFValue::String("_result"), AMFValue::Number(1)}),
                             RTMPPacketType::Data));
    EXPECT_TRUE(results.empty());
    EXPECT_THAT([&] { caller_.PutFrame(Command(Hex("0A 00 00 00 00"))); },
                test::ThrowsWithText("unknown AMF type"));
}

}  // namespace
}  // namespace pelmar::live
