#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMFValue.h"
#include "pelmar/live/IReceiver.h"
#include "pelmar/live/RTMPPacket.h"
#include "pelmar/platform/sync/Mutex.h"

// RemoteProcedureCaller: carries RTMP commands. Call encodes a command (name, transaction id,
// values) as an AMF0 command message, sends it and remembers its result callback; incoming
// command messages are decoded and "_result" goes to the waiting callback, "_error" (and any reply
// whose information object has level "error") to the error handler, "onStatus" to the status
// handler.
// Ownership: holds the receiver its messages go to (std::shared_ptr; in practice the packet
//            stream) and the callbacks until their reply arrives.
// Threads: thread-safe. mutex_ guards the transaction table, the id counter and the handlers; it
//          is never held while a callback or handler runs or while a message is sent, so
//          callbacks may issue further calls.
// Errors: Call passes on the sender's and the AMF0 encoder's exceptions (the transaction is then
//         forgotten). PutFrame passes on "unknown AMF type" and the other AMF0 decoding errors,
//         and whatever a callback or handler throws.
// Limits: reads at most kMaxCommandValues values of an incoming command.

namespace pelmar::live {

class RemoteProcedureCaller : public IReceiver<RTMPPacket> {
public:
    static constexpr size_t kMaxCommandValues = 16;

    // Receives the command object and the information value of a reply; both are set (a missing
    // one is an AMF0 null).
    using ResultCallback =
            std::function<void(std::shared_ptr<AMFValue>, std::shared_ptr<AMFValue>)>;

    struct Transaction {
        uint32_t id = 0;
        ResultCallback callback;
    };

    explicit RemoteProcedureCaller(std::shared_ptr<IReceiver<RTMPPacket>> sender);

    // Sends `name` with the next transaction id (1 for the first call) and `values` (an empty
    // pointer is written as null) on `channel` with `messageStreamId`. `callback` (may be empty)
    // gets the "_result" that carries this call's id.
    void Call(RTMPChannel channel,
              const std::string& name,
              const std::vector<std::shared_ptr<AMFValue>>& values,
              ResultCallback callback,
              uint32_t messageStreamId);

    void Call(RTMPChannel channel,
              const std::string& name,
              std::shared_ptr<AMFValue> value,
              ResultCallback callback,
              uint32_t messageStreamId);

    void Call(RTMPChannel channel,
              const std::string& name,
              std::shared_ptr<AMFValue> value1,
              std::shared_ptr<AMFValue> value2,
              ResultCallback callback,
              uint32_t messageStreamId);

    void Call(RTMPChannel channel,
              const std::string& name,
              std::shared_ptr<AMFValue> value1,
              std::shared_ptr<AMFValue> value2,
              std::shared_ptr<AMFValue> value3,
              ResultCallback callback,
              uint32_t messageStreamId);

    void SetErrorHandler(ResultCallback handler);

    void SetStatusHandler(ResultCallback handler);

protected:
    // Takes one incoming message; anything but an AMF0 command (type 20) is ignored.
    void PutFrameImpl(RTMPPacket packet) override;

    void CloseImpl() override {}

private:
    const std::shared_ptr<IReceiver<RTMPPacket>> sender_;

    Mutex mutex_;
    std::map<uint32_t, Transaction> transactions_ PELMAR_GUARDED_BY(mutex_);
    uint32_t lastTransactionId_ PELMAR_GUARDED_BY(mutex_) = 0;
    ResultCallback errorHandler_ PELMAR_GUARDED_BY(mutex_);
    ResultCallback statusHandler_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::live
