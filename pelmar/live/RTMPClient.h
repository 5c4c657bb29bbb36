#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/live/AMFValue.h"
#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/IReceiver.h"
#include "pelmar/live/NetworkConnection.h"
#include "pelmar/live/RTMPPacket.h"
#include "pelmar/live/RTMPPacketStream.h"
#include "pelmar/live/RemoteProcedureCaller.h"
#include "pelmar/live/Uri.h"
#include "pelmar/platform/sync/Mutex.h"

// RTMPClient: publishes one live stream to an RTMP server: FLV tags given to PutFrame (the FLV
// muxer's output) go out as RTMP metadata, audio and video messages. Before connect it announces
// a window acknowledgement size and its chunk size of 4096 bytes.
// Ownership: create with std::make_shared; owns the connection, the packet stream and the command
//     caller. The callbacks are taken at construction (or set later) and copied out under the
//     lock before each call.
// Threads: thread-safe. PutFrame and Close are meant for one owner thread; errorCallback and
//     publishStartCallback run on the receiver thread, publishStopCallback on the thread that
//     closes. Close may be called from the callbacks; the client must not be destroyed from them.
// Errors: std::runtime_error from the constructor: "invalid port: ...", "unknown host: <host>",
//     "can't open socket", "can't connect socket", "unknown rtmp protocol version", and the
//     connection's send and receive errors and time-outs during the handshake. From PutFrame:
//     "can't start publishing", "FLV tag too short", and the packet stream's send errors. Server
//     errors ("_error" replies and statuses of level "error") and receiver failures go to
//     errorCallback as text. A lost connection is told once: by errorCallback when the receiver
//     notices it first, or by the first PutFrame whose send fails; later tags are dropped
//     without a word.
//
//   auto client = std::make_shared<RTMPClient>("rtmp://host/live", "cam", callbacks);
//   FLVMuxer muxer(client);  // its FLV tags, file header first, go to client->PutFrame
//   client->Close();

namespace pelmar::live {

// What an RTMPClient tells its owner; each is called only when set.
struct RTMPClientCallbacks {
    std::function<void(std::string)> errorCallback;
    std::function<void()> publishStartCallback;
    std::function<void()> publishStopCallback;
};

struct RTMPClientOptions {
    NetworkConnection::Timeouts timeouts;
    // How long the constructor's steps may take together: connecting, the handshake and sending
    // "connect".
    std::chrono::milliseconds setupTimeout{10000};
    // How long the FLV header frame waits for the server to confirm publishing.
    std::chrono::milliseconds publishTimeout{10000};
    // How long Close waits for the server to take the end of the stream and hang up.
    std::chrono::milliseconds closeTimeout{1000};
};

class RTMPClient : public IReceiver<FLVFrame> {
public:
    using ResultCallback = RemoteProcedureCaller::ResultCallback;

    using Callbacks = RTMPClientCallbacks;
    using Options = RTMPClientOptions;

    // `targetAddress` such as rtmp://host[:port]/app[/more][?query]; port 1935 when none given.
    // Connects, performs the handshake and sends "connect", all within Options::setupTimeout;
    // "createStream" and "publish" follow on the receiver thread as the server answers.
    RTMPClient(std::string targetAddress,
               std::string streamName,
               Callbacks callbacks = {},
               Options options = {});

    // Closes. Never throws.
    ~RTMPClient() override;

    // The address's path pieces joined with "/", with its query string.
    std::string GetAppName() const;

    std::string GetStreamName() const { return streamName_; }

    // The message stream id from the createStream result; 0 before it and after closing.
    uint32_t StreamId() const { return streamId_.load(); }

    bool IsPublishing() const;

    void SetErrorCallback(std::function<void(std::string)> callback);

    void SetPublishStartCallback(std::function<void()> callback);

    void SetPublishStopCallback(std::function<void()> callback);

    // Commands, each sent as it is; they fail with the packet stream's send errors, or "not
    // connected" after closing.
    void CreateStream(ResultCallback callback);
    void Publish();
    void ReleaseStream();
    void FCPublish();
    void FCUnPublish();
    void DeleteStream();

protected:
    // Tag 0 (file header): waits for publishing, and throws "can't start publishing" when the
    // server has not confirmed it within Options::publishTimeout, refused it, or hung up.
    // Tags 8, 9 and 18: sent as audio, video or
    // metadata messages once publishing; dropped before that, after closing and once the
    // connection is lost (the first failed send throws). The stream's
    // configuration (metadata and the AVC and AAC sequence headers) given before publishing
    // started is kept and sent ahead of the first media once it has; video then resumes at a key
    // frame. So a server that confirms late never gets media it cannot decode.
    void PutFrameImpl(FLVFrame frame) override;

    // Prints "closing rtmp connection", ends the stream with "FCUnpublish" and "deleteStream",
    // lets the server finish (up to Options::closeTimeout; its hanging up then is the expected
    // end and prints no receiver error), disconnects and calls publishStopCallback; only the
    // first call does anything. The destructor waits for the receiver thread, a close running
    // there included.
    void CloseImpl() override;

private:
    void Connect();
    void MakeHandshake();
    void MakeConnect();

    void HandlePacket(RTMPPacket packet);
    void HandleChunkSize(const RTMPPacket& packet);
    void HandleUserControl(const RTMPPacket& packet);
    void OnConnectResult(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info);
    void OnCreateStreamResult(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info);
    void OnStatus(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info);
    void OnError(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info);
    void OnReceiverError(const std::string& error);

    void Send(RTMPPacket packet);

    // Sends one audio, video or metadata tag as its message; `pts` is the message time. The
    // first failure marks the connection lost and throws; later tags are dropped.
    void SendTag(const std::shared_ptr<RTMPPacketStream>& stream, const FLVFrame& tag, double pts);
    void SendTagMessage(const std::shared_ptr<RTMPPacketStream>& stream,
                        const FLVFrame& tag,
                        double pts);
    std::shared_ptr<RemoteProcedureCaller> Caller() const;

    Uri uri_;
    const std::string streamName_;
    const Options options_;
    NetworkConnection connection_;

    // Never held while a callback runs or a message is sent (the packet stream serialises sends
    // itself).
    mutable Mutex mutex_;
    CondVar publishChanged_;
    Callbacks callbacks_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<RTMPPacketStream> stream_ PELMAR_GUARDED_BY(mutex_);  // empty once closed
    // The same stream, kept after closing until destruction: a close from a callback runs on the
    // stream's receiver thread, which only the destructor may then join. Set once while
    // connecting; then read only by the constructor and the destructor.
    std::shared_ptr<RTMPPacketStream> receiverStream_;
    bool publishing_ PELMAR_GUARDED_BY(mutex_) = false;
    bool publishFailed_ PELMAR_GUARDED_BY(mutex_) = false;  // refused, or receiver gone
    // The receiver died or a media send failed; reported once, through whichever came first.
    bool connectionLost_ PELMAR_GUARDED_BY(mutex_) = false;
    bool closed_ PELMAR_GUARDED_BY(mutex_) = false;

    // PutFrame's own state (the owner's thread): configuration held back until publishing, in
    // the order metadata, video, audio; whether media was dropped meanwhile.
    std::vector<std::pair<int, FLVFrame>> heldConfiguration_;
    bool mediaDropped_ = false;
    bool awaitingKeyFrame_ = false;

    std::shared_ptr<RemoteProcedureCaller> caller_;  // set before the receiver starts; then fixed
    std::atomic<uint32_t> streamId_{0};
    // Set when closing starts: late results and statuses then start nothing.
    std::atomic<bool> closing_{false};
};

}  // namespace pelmar::live
