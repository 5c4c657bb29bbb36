#include "pelmar/live/RemoteProcedureCaller.h"

#include <cstdio>
#include <utility>

#include "pelmar/live/AMF0.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live {

namespace {

std::string TextOf(const std::shared_ptr<AMFValue>& value) {
    return value ? value->ToStringImpl() : AMFNull().ToStringImpl();
}

bool HasErrorLevel(const std::shared_ptr<AMFValue>& information) {
    const auto* object = dynamic_cast<const AMFObject*>(information.get());
    if (object == nullptr) {
        return false;
    }
    const auto* level = dynamic_cast<const AMFString*>(object->GetValue("level").get());
    return level != nullptr && level->Value() == "error";
}

}  // namespace

RemoteProcedureCaller::RemoteProcedureCaller(std::shared_ptr<IReceiver<RTMPPacket>> sender)
    : sender_(std::move(sender)) {}

void RemoteProcedureCaller::Call(RTMPChannel channel,
                                 const std::string& name,
                                 std::shared_ptr<AMFValue> value,
                                 ResultCallback callback,
                                 uint32_t messageStreamId) {
    Call(channel, name, std::vector{std::move(value)}, std::move(callback), messageStreamId);
}

void RemoteProcedureCaller::Call(RTMPChannel channel,
                                 const std::string& name,
                                 std::shared_ptr<AMFValue> value1,
                                 std::shared_ptr<AMFValue> value2,
                                 ResultCallback callback,
                                 uint32_t messageStreamId) {
    Call(channel, name, std::vector{std::move(value1), std::move(value2)}, std::move(callback),
         messageStreamId);
}

void RemoteProcedureCaller::Call(RTMPChannel channel,
                                 const std::string& name,
                                 std::shared_ptr<AMFValue> value1,
                                 std::shared_ptr<AMFValue> value2,
                                 std::shared_ptr<AMFValue> value3,
                                 ResultCallback callback,
                                 uint32_t messageStreamId) {
    Call(channel, name, std::vector{std::move(value1), std::move(value2), std::move(value3)},
         std::move(callback), messageStreamId);
}

void RemoteProcedureCaller::Call(RTMPChannel channel,
                                 const std::string& name,
                                 const std::vector<std::shared_ptr<AMFValue>>& values,
                                 ResultCallback callback,
                                 uint32_t messageStreamId) {
    uint32_t id = 0;
    {
        MutexLock lock(mutex_);
        id = ++lastTransactionId_;
        if (callback) {
            transactions_[id] = Transaction{id, std::move(callback)};
        }
    }
    try {
        RTMPPacket packet(MediaType::None, MediaCodec::None, channel, RTMPPacketType::Command,
                          messageStreamId);
        BitstreamWriter writer(packet.Data());
        AMFString(name).WriteImpl(writer);
        AMFNumber(static_cast<double>(id)).WriteImpl(writer);
        std::string texts;
        for (const auto& value : values) {
            if (value) {
                value->WriteImpl(writer);
            } else {
                AMFNull().WriteImpl(writer);
            }
            texts += (texts.empty() ? "" : ", ") + TextOf(value);
        }
        foundation::Console::print("[" + std::to_string(static_cast<uint32_t>(channel)) + "]" + name
                                   + "(" + texts + "), transactionID = " + std::to_string(id));
        if (sender_) {
            sender_->PutFrame(packet);
        }
    } catch (...) {
        MutexLock lock(mutex_);
        transactions_.erase(id);
        throw;
    }
}

void RemoteProcedureCaller::SetErrorHandler(ResultCallback handler) {
    MutexLock lock(mutex_);
    errorHandler_ = std::move(handler);
}

void RemoteProcedureCaller::SetStatusHandler(ResultCallback handler) {
    MutexLock lock(mutex_);
    statusHandler_ = std::move(handler);
}

void RemoteProcedureCaller::PutFrameImpl(RTMPPacket packet) {
    if (packet.Header().packetType != RTMPPacketType::Command) {
        return;
    }
    auto reader = packet.GetDataReader();
    std::vector<std::shared_ptr<AMFValue>> values;
    while (reader.RemainingDataSize() > 0 && values.size() < kMaxCommandValues) {
        values.push_back(AMFValue::ReadValue(reader));
    }
    if (values.size() < 2 || values[0]->GetTypeImpl() != AMFType::String
        || values[1]->GetTypeImpl() != AMFType::Number) {
        return;
    }
    std::string name = static_cast<const AMFString&>(*values[0]).Value();
    const double rawId = static_cast<const AMFNumber&>(*values[1]).Value();
    char text[64];
    std::snprintf(text, sizeof text, "%f", rawId);
    foundation::Console::print(std::string("transaction ID raw = ") + text);
    const auto commandObject = values.size() > 2 ? values[2] : AMFValue::Null();
    const auto information = values.size() > 3 ? values[3] : AMFValue::Null();
    if (HasErrorLevel(information)) {
        name = "_error";
    }
    // Ids outside 0..2^32-1 (or not a number at all) match no call.
    const uint32_t id = rawId >= 0 && rawId < 4294967296.0 ? static_cast<uint32_t>(rawId) : 0;

    ResultCallback handler;
    if (name == "_result") {
        foundation::Console::print("result received: " + TextOf(commandObject) + ", "
                                   + TextOf(information));
        foundation::Console::print("result received, transaction = " + std::to_string(id));
        MutexLock lock(mutex_);
        const auto found = transactions_.find(id);
        if (found != transactions_.end()) {
            handler = std::move(found->second.callback);
            transactions_.erase(found);
        }
        if (handler) {
            foundation::Console::print("result sent to callback");
        }
    } else if (name == "_error") {
        MutexLock lock(mutex_);
        // The call failed: its result callback will never run.
        transactions_.erase(id);
        handler = errorHandler_;
    } else if (name == "onStatus") {
        MutexLock lock(mutex_);
        handler = statusHandler_;
    }
    if (handler) {
        handler(commandObject, information);
    }
}

}  // namespace pelmar::live
