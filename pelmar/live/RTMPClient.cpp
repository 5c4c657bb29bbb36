#include "pelmar/live/RTMPClient.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/NetworkBitstreamReader.h"
#include "pelmar/live/NetworkBitstreamWriter.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live {

namespace {

constexpr size_t kHandshakeLength = 1536;
constexpr uint16_t kDefaultPort = 1935;
constexpr uint16_t kPingRequest = 6;
constexpr uint16_t kPingResponse = 7;
// The window we ask the server to acknowledge, in bytes.
constexpr uint32_t kAcknowledgementWindow = 2'500'000;
// Our chunk size, announced before connect. At the protocol's default of 128 bytes a video frame
// of tens of kilobytes becomes hundreds of chunks, and the server spends more time taking them
// apart than we spend sending them.
constexpr uint32_t kOutgoingChunkSize = 4096;

std::string TextOf(const std::shared_ptr<AMFValue>& value) {
    return value ? value->ToStringImpl() : AMFNull().ToStringImpl();
}

std::string MemberText(const std::shared_ptr<AMFValue>& value, const std::string& name) {
    const auto* object = dynamic_cast<const AMFObject*>(value.get());
    const auto* member = object != nullptr
                                 ? dynamic_cast<const AMFString*>(object->GetValue(name).get())
                                 : nullptr;
    return member != nullptr ? member->Value() : std::string();
}

// What a tag holds: stream configuration (kept for a late start, in this order) or media.
constexpr int kMetadata = 0;
constexpr int kVideoConfiguration = 1;
constexpr int kAudioConfiguration = 2;
constexpr int kMedia = 3;

int ConfigurationKind(const FLVFrame& frame) {
    const auto& tag = frame.Data();
    const size_t body = kFLVTagHeaderLength;
    if (frame.TagType() == kFLVTagScriptData) {
        return kMetadata;
    }
    if (tag.size() < body + 2 + kFLVPreviousTagSizeLength) {
        return kMedia;
    }
    // AVC (codec 7) and AAC (sound format 10) packets whose packet type is 0: sequence headers.
    if (frame.TagType() == kFLVTagVideo && (tag[body] & 0x0F) == 7 && tag[body + 1] == 0) {
        return kVideoConfiguration;
    }
    if (frame.TagType() == kFLVTagAudio && (tag[body] >> 4) == 10 && tag[body + 1] == 0) {
        return kAudioConfiguration;
    }
    return kMedia;
}

uint32_t Read32(const std::vector<uint8_t>& body, size_t at) {
    return uint32_t{body[at]} << 24 | uint32_t{body[at + 1]} << 16 | uint32_t{body[at + 2]} << 8
           | body[at + 3];
}

}  // namespace

RTMPClient::RTMPClient(std::string targetAddress,
                       std::string streamName,
                       Callbacks callbacks,
                       Options options)
    : uri_(std::move(targetAddress)),
      streamName_(std::move(streamName)),
      options_(options),
      connection_(options.timeouts),
      callbacks_(std::move(callbacks)) {
    Connect();
}

RTMPClient::~RTMPClient() {
    try {
        CloseImpl();
    } catch (...) {
        // Closing swallows its own failures; a destructor must not throw either way.
    }
    // A close begun from a callback may still run on the receiver thread: the members it uses
    // must outlive that thread.
    if (receiverStream_) {
        receiverStream_->Close();
    }
}

std::string RTMPClient::GetAppName() const {
    const auto segments = uri_.GetSegments();
    std::string app;
    for (size_t i = 1; i < segments.size(); ++i) {
        app += (i > 1 ? "/" : "") + segments[i];
    }
    // The query travels with the application name: servers read tokens and arguments from it.
    return app + uri_.query;
}

bool RTMPClient::IsPublishing() const {
    MutexLock lock(mutex_);
    return publishing_;
}

void RTMPClient::SetErrorCallback(std::function<void(std::string)> callback) {
    MutexLock lock(mutex_);
    callbacks_.errorCallback = std::move(callback);
}

void RTMPClient::SetPublishStartCallback(std::function<void()> callback) {
    MutexLock lock(mutex_);
    callbacks_.publishStartCallback = std::move(callback);
}

void RTMPClient::SetPublishStopCallback(std::function<void()> callback) {
    MutexLock lock(mutex_);
    callbacks_.publishStopCallback = std::move(callback);
}

void RTMPClient::Connect() {
    if (uri_.port == 0) {
        uri_.port = kDefaultPort;
    }
    foundation::Console::print("connecting to rtmp server " + uri_.host + ":"
                               + std::to_string(uri_.port));
    // One deadline for everything until "connect" is out: a server that answers a byte at a time
    // cannot hold the caller longer than that.
    connection_.SetDeadline(NetworkConnection::Clock::now() + options_.setupTimeout);
    connection_.Connect(uri_.host, uri_.port);
    MakeHandshake();

    // The command caller exists before the receiver starts, so the packet handler never sees it
    // change; its messages go out through whatever stream the client holds.
    caller_ = std::make_shared<RemoteProcedureCaller>(std::make_shared<MediaCallback<RTMPPacket>>(
            [this](RTMPPacket packet) { Send(packet); }));
    caller_->SetErrorHandler([this](auto command, auto info) { OnError(command, info); });
    caller_->SetStatusHandler([this](auto command, auto info) { OnStatus(command, info); });
    auto handler = std::make_shared<MediaCallback<RTMPPacket>>(
            [this](RTMPPacket packet) { HandlePacket(packet); });
    {
        MutexLock lock(mutex_);
        stream_ = std::make_shared<RTMPPacketStream>(
                connection_, handler, [this](const std::string& error) { OnReceiverError(error); });
        receiverStream_ = stream_;
    }
    try {
        receiverStream_->AnnounceWindowAcknowledgementSize(kAcknowledgementWindow);
        receiverStream_->AnnounceChunkSize(kOutgoingChunkSize);
        MakeConnect();
        connection_.SetDeadline(std::nullopt);
    } catch (...) {
        // The destructor will not run: stop the receiver before the members it uses go away.
        std::shared_ptr<RTMPPacketStream> stream;
        {
            MutexLock lock(mutex_);
            stream = std::move(stream_);
        }
        stream->Close();
        throw;
    }
}

void RTMPClient::MakeHandshake() {
    NetworkBitstreamWriter writer(connection_);
    NetworkBitstreamReader reader(connection_);
    // C0 (version 3) and C1 (time 0, zero field, zero "random" bytes) go out together.
    std::vector<uint8_t> c0c1(1 + kHandshakeLength, 0);
    c0c1[0] = 3;
    writer.PutBytes(c0c1.begin(), c0c1.end());

    const uint8_t version = reader.GetByte();
    foundation::Console::print("server protocol version: " + std::to_string(version));
    if (version != 3) {
        throw std::runtime_error("unknown rtmp protocol version");
    }
    std::vector<uint8_t> s1(kHandshakeLength);
    reader.GetBytes(s1.begin(), s1.size());
    foundation::Console::print("server time: " + std::to_string(Read32(s1, 0)));
    // C2 echoes S1 whole, as the RTMP handshake asks; servers that check it need its random bytes.
    writer.PutBytes(s1.begin(), s1.end());
    std::vector<uint8_t> s2(kHandshakeLength);
    reader.GetBytes(s2.begin(), s2.size());
}

void RTMPClient::MakeConnect() {
    const std::string app = GetAppName();
    const std::string tcUrl = "rtmp://" + uri_.host + ":" + std::to_string(uri_.port) + "/" + app;
    foundation::Console::print("AppName: " + app);
    foundation::Console::print("tcUrl: " + tcUrl);
    auto object = std::make_shared<AMFObject>();
    object->AddValue("app", AMFValue::String(app));
    object->AddValue("type", AMFValue::String("nonprivate"));
    object->AddValue("flashVer", AMFValue::String("FMLE/3.0 (compatible; livestreamer)"));
    object->AddValue("tcUrl", AMFValue::String(tcUrl));
    caller_->Call(
            RTMPChannel::Command, "connect", object,
            [this](auto command, auto info) { OnConnectResult(command, info); }, 0);
}

void RTMPClient::CreateStream(ResultCallback callback) {
    Caller()->Call(RTMPChannel::Command, "createStream", std::shared_ptr<AMFValue>(),
                   std::move(callback), 0);
}

void RTMPClient::Publish() {
    Caller()->Call(RTMPChannel::Stream, "publish", nullptr, AMFValue::String(streamName_),
                   AMFValue::String("record"), {}, streamId_.load());
}

void RTMPClient::ReleaseStream() {
    Caller()->Call(RTMPChannel::Command, "releaseStream", nullptr, AMFValue::String(streamName_),
                   {}, 0);
}

void RTMPClient::FCPublish() {
    Caller()->Call(RTMPChannel::Command, "FCPublish", nullptr, AMFValue::String(streamName_), {},
                   0);
}

void RTMPClient::FCUnPublish() {
    Caller()->Call(RTMPChannel::Command, "FCUnpublish", nullptr, AMFValue::String(streamName_), {},
                   0);
}

void RTMPClient::DeleteStream() {
    Caller()->Call(RTMPChannel::Command, "deleteStream", nullptr,
                   AMFValue::Number(static_cast<double>(streamId_.load())), {}, 0);
}

std::shared_ptr<RemoteProcedureCaller> RTMPClient::Caller() const {
    if (!caller_) {
        throw std::runtime_error("not connected");
    }
    return caller_;
}

void RTMPClient::Send(RTMPPacket packet) {
    std::shared_ptr<RTMPPacketStream> stream;
    {
        MutexLock lock(mutex_);
        stream = stream_;
    }
    if (!stream) {
        throw std::runtime_error("not connected");
    }
    stream->PutFrame(packet);
}

void RTMPClient::HandlePacket(RTMPPacket packet) {
    const auto type = static_cast<unsigned>(packet.Header().packetType);
    foundation::Console::print("RTMP packet received: type = " + std::to_string(type)
                               + ", channel = "
                               + std::to_string(static_cast<uint32_t>(packet.Header().channel)));
    switch (packet.Header().packetType) {
        case RTMPPacketType::SetChunkSize:
            HandleChunkSize(packet);
            break;
        case RTMPPacketType::UserControl:
            HandleUserControl(packet);
            break;
        case RTMPPacketType::Command:
            caller_->PutFrame(packet);
            break;
        default:
            break;
    }
}

void RTMPClient::HandleChunkSize(const RTMPPacket& packet) {
    if (packet.Data().size() < 4) {
        foundation::Console::print("chunk size message too short");
        return;
    }
    // The top bit is reserved; 0 would never move a byte, and nothing needs more than 16 MiB.
    const uint32_t size = Read32(packet.Data(), 0) & 0x7FFFFFFF;
    foundation::Console::print("chunk size set: " + std::to_string(size));
    if (size == 0) {
        foundation::Console::print("chunk size 0 ignored");
        return;
    }
    std::shared_ptr<RTMPPacketStream> stream;
    {
        MutexLock lock(mutex_);
        stream = stream_;
    }
    if (stream) {
        stream->SetChunkSize(std::min<uint32_t>(size, RTMPPacketStream::kMaxIncomingChunkSize));
    }
}

void RTMPClient::HandleUserControl(const RTMPPacket& packet) {
    const auto& body = packet.Data();
    if (body.size() < 6) {
        return;
    }
    const auto event = static_cast<uint16_t>(body[0] << 8 | body[1]);
    if (event != kPingRequest) {
        return;
    }
    foundation::Console::print("ping received");
    RTMPPacket pong(MediaType::None, MediaCodec::None, RTMPChannel::Control,
                    RTMPPacketType::UserControl, 0);
    pong.Data() = {0, kPingResponse, body[2], body[3], body[4], body[5]};
    pong.SetPTS(packet.PTS() + 0.001);
    try {
        Send(pong);
    } catch (const std::runtime_error& e) {
        // Closed meanwhile: nobody needs the answer.
        if (!closing_.load()) {
            throw;
        }
        return;
    }
    foundation::Console::print("pong send");
}

void RTMPClient::OnConnectResult(std::shared_ptr<AMFValue> command,
                                 std::shared_ptr<AMFValue> info) {
    if (closing_.load()) {
        return;
    }
    foundation::Console::print("connection result: " + TextOf(command) + ", " + TextOf(info));
    CreateStream([this](auto c, auto i) { OnCreateStreamResult(c, i); });
}

void RTMPClient::OnCreateStreamResult(std::shared_ptr<AMFValue> command,
                                      std::shared_ptr<AMFValue> info) {
    if (closing_.load()) {
        return;
    }
    foundation::Console::print("createStream result: " + TextOf(command) + ", " + TextOf(info));
    if (const auto* number = dynamic_cast<const AMFNumber*>(info.get())) {
        const double id = number->Value();
        streamId_.store(id >= 0 && id < 4294967296.0 ? static_cast<uint32_t>(id) : 0);
    }
    foundation::Console::print("streamID: " + std::to_string(streamId_.load()));
    Publish();
}

void RTMPClient::OnStatus(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info) {
    foundation::Console::print("status received: " + TextOf(command) + ", " + TextOf(info));
    // The server may answer the end of the stream with another status: closing starts nothing.
    if (closing_.load() || MemberText(info, "code") != "NetStream.Publish.Start") {
        return;
    }
    foundation::Console::print("publishing successfully started");
    std::function<void()> callback;
    {
        MutexLock lock(mutex_);
        publishing_ = true;
        callback = callbacks_.publishStartCallback;
    }
    publishChanged_.notifyAll();
    if (callback) {
        callback();
    }
}

void RTMPClient::OnError(std::shared_ptr<AMFValue> command, std::shared_ptr<AMFValue> info) {
    const std::string text = TextOf(command) + ", " + TextOf(info);
    foundation::Console::print("error: " + text);
    std::function<void(std::string)> callback;
    {
        MutexLock lock(mutex_);
        callback = callbacks_.errorCallback;
    }
    // The owner hears the reason before a waiting header frame fails.
    if (callback) {
        callback(text);
    }
    {
        MutexLock lock(mutex_);
        // A refused connect, stream or publish: waiting on would only run into the time-out.
        publishFailed_ = publishFailed_ || !publishing_;
    }
    publishChanged_.notifyAll();
}

void RTMPClient::OnReceiverError(const std::string& error) {
    std::function<void(std::string)> callback;
    bool first = false;
    {
        MutexLock lock(mutex_);
        callback = callbacks_.errorCallback;
        first = !connectionLost_;
        connectionLost_ = true;
    }
    // A failed send may have told of the lost connection already.
    if (callback && first && !closing_.load()) {
        callback(error);
    }
    {
        MutexLock lock(mutex_);
        publishFailed_ = true;
    }
    publishChanged_.notifyAll();
}

void RTMPClient::PutFrameImpl(FLVFrame frame) {
    if (frame.TagType() == kFLVTagFileHeader) {
        MutexLock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + options_.publishTimeout;
        while (!(publishing_ || publishFailed_ || closed_)
               && publishChanged_.waitUntil(mutex_, deadline)) {
        }
        if (!publishing_) {
            throw std::runtime_error("can't start publishing");
        }
        return;
    }
    const auto& tag = frame.Data();
    if (tag.size() < kFLVTagHeaderLength + kFLVPreviousTagSizeLength) {
        throw std::runtime_error("FLV tag too short");
    }
    const int configuration = ConfigurationKind(frame);
    std::shared_ptr<RTMPPacketStream> stream;
    bool publishing = false;
    bool closed = false;
    {
        MutexLock lock(mutex_);
        if (connectionLost_) {
            // Told once already; the stream has nowhere to go.
            return;
        }
        publishing = publishing_;
        closed = closed_;
        stream = stream_;
    }
    if (!publishing || !stream) {
        // Before the server confirms publishing (or after it ended) media has nowhere to go; the
        // configuration waits for a late confirmation.
        if (configuration != kMedia && !closed) {
            std::erase_if(heldConfiguration_,
                          [&](const auto& held) { return held.first == configuration; });
            heldConfiguration_.emplace_back(configuration, frame);
            std::sort(heldConfiguration_.begin(), heldConfiguration_.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
        } else if (configuration == kMedia) {
            mediaDropped_ = true;
        }
        return;
    }
    if (!heldConfiguration_.empty()) {
        if (configuration != kMedia) {
            std::erase_if(heldConfiguration_,
                          [&](const auto& held) { return held.first == configuration; });
        }
        // Publishing started after media was given: the server gets the configuration first,
        // at the time of what follows, and video waits for a frame it can start from.
        auto held = std::move(heldConfiguration_);
        heldConfiguration_.clear();
        for (const auto& [kind, config] : held) {
            SendTag(stream, config, frame.PTS());
        }
        awaitingKeyFrame_ = mediaDropped_;
        mediaDropped_ = false;
    }
    if (configuration == kMedia && frame.TagType() == kFLVTagVideo && awaitingKeyFrame_) {
        // The tag's frame type: 1 is a key frame.
        if ((tag[kFLVTagHeaderLength] >> 4) != 1) {
            return;
        }
        awaitingKeyFrame_ = false;
    }
    SendTag(stream, frame, frame.PTS());
}

void RTMPClient::SendTag(const std::shared_ptr<RTMPPacketStream>& stream,
                         const FLVFrame& frame,
                         double pts) {
    try {
        SendTagMessage(stream, frame, pts);
    } catch (const std::exception&) {
        // A failed send leaves the chunk stream broken for good: its error is the one report of
        // the lost connection, unless the receiver has told of it already.
        MutexLock lock(mutex_);
        if (std::exchange(connectionLost_, true)) {
            return;
        }
        throw;
    }
}

void RTMPClient::SendTagMessage(const std::shared_ptr<RTMPPacketStream>& stream,
                                const FLVFrame& frame,
                                double pts) {
    const auto& tag = frame.Data();
    const auto first = tag.begin() + kFLVTagHeaderLength;
    const auto last = tag.end() - kFLVPreviousTagSizeLength;
    const uint32_t streamId = streamId_.load();
    if (frame.TagType() == kFLVTagScriptData) {
        RTMPPacket packet(MediaType::None, MediaCodec::None, RTMPChannel::Audio,
                          RTMPPacketType::Data, streamId);
        BitstreamWriter writer(packet.Data());
        AMFString("@setDataFrame").WriteImpl(writer);
        writer.PutBytes(first, last);
        stream->PutFrame(packet);
        return;
    }
    const bool video = frame.TagType() == kFLVTagVideo;
    RTMPPacket packet(frame.Descriptor().type, frame.Descriptor().codec,
                      video ? RTMPChannel::Video : RTMPChannel::Audio,
                      video ? RTMPPacketType::Video : RTMPPacketType::Audio, streamId);
    packet.Data().assign(first, last);
    packet.SetPTS(pts);
    packet.SetKeyFrame(frame.KeyFrame());
    stream->PutFrame(packet);
}

void RTMPClient::CloseImpl() {
    std::shared_ptr<RTMPPacketStream> stream;
    std::function<void()> stopCallback;
    {
        MutexLock lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        publishing_ = false;
        stream = stream_;
        stopCallback = callbacks_.publishStopCallback;
    }
    publishChanged_.notifyAll();
    foundation::Console::print("closing rtmp connection");
    closing_.store(true);
    if (stream) {
        // The server hangs up once it has our end of the stream: that is the normal end.
        stream->ExpectHangUp();
    }
    if (stream && streamId_.load() != 0) {
        try {
            FCUnPublish();
            DeleteStream();
        } catch (const std::exception& e) {
            foundation::Console::print(std::string("unpublish failed: ") + e.what());
        }
    }
    streamId_.store(0);
    if (stream) {
        // Our end of the stream tells the server we are done; it hangs up once it has handled
        // everything before it, which the receiver notices. From a callback on the receiver
        // thread there is nothing to wait for, and the stream stays alive until destruction.
        connection_.ShutdownSend();
        stream->WaitForReceiverEnd(options_.closeTimeout);
        stream->Close();
        MutexLock lock(mutex_);
        stream_.reset();
    }
    if (stopCallback) {
        stopCallback();
    }
}

}  // namespace pelmar::live
