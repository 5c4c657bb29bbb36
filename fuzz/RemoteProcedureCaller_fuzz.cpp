// Fuzz target: command messages from an RTMP server as the client's command caller takes them:
// AMF0 decoding, the name and transaction checks and dispatch to callbacks that issue new calls.
#include "pelmar/live/RemoteProcedureCaller.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/MediaCallback.h"

using namespace pelmar::live;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A fresh caller per input: pending calls must not pile up across runs.
    auto caller = std::make_shared<RemoteProcedureCaller>(
            std::make_shared<MediaCallback<RTMPPacket>>(nullptr));
    caller->SetErrorHandler([](auto command, auto info) {
        (void)(command->ToStringImpl() + info->ToStringImpl());
    });
    caller->SetStatusHandler([](auto command, auto info) {
        (void)(command->ToStringImpl() + info->ToStringImpl());
    });
    // Keep a few calls pending so that results find callbacks, which call again.
    caller->Call(
            RTMPChannel::Command, "createStream", std::shared_ptr<AMFValue>(),
            [self = caller.get()](auto command, auto info) {
                (void)(command->ToStringImpl() + info->ToStringImpl());
                self->Call(RTMPChannel::Stream, "publish", nullptr, {}, 1);
            },
            0);
    RTMPPacket packet(MediaType::None, MediaCodec::None, RTMPChannel::Command,
                      RTMPPacketType::Command, 0);
    packet.Data().assign(data, data + size);
    try {
        caller->PutFrame(packet);
    } catch (const std::runtime_error&) {
        // Undecodable commands are refused with an exception.
    }
    return 0;
}
