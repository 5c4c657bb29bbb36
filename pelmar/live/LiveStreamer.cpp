#include "pelmar/live/LiveStreamer.h"

#include <exception>
#include <thread>
#include <utility>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/MediaFrame.h"
#include "pelmar/live/internal/StreamReporter.h"
#include "pelmar/platform/foundation/Log.h"

namespace pelmar::live {
namespace {

// The reporter whose client callback this thread is running, if any: the thread is then that
// client's receiver thread, on which the client must not be destroyed.
thread_local const internal::StreamReporter* tReportingFor = nullptr;

class ReportingScope {
public:
    explicit ReportingScope(const internal::StreamReporter* reporter) : previous_(tReportingFor) {
        tReportingFor = reporter;
    }

    ~ReportingScope() { tReportingFor = previous_; }

    ReportingScope(const ReportingScope&) = delete;
    ReportingScope& operator=(const ReportingScope&) = delete;

private:
    const internal::StreamReporter* previous_;
};

void appendLengthPrefixed(std::vector<uint8_t>& out, const std::vector<uint8_t>& unit) {
    const auto length = static_cast<uint32_t>(unit.size());
    out.push_back(static_cast<uint8_t>(length >> 24));
    out.push_back(static_cast<uint8_t>(length >> 16));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), unit.begin(), unit.end());
}

}  // namespace

LiveStreamer::LiveStreamer() : reporter_(std::make_shared<internal::StreamReporter>()) {}

std::shared_ptr<LiveStreamer> LiveStreamer::create(const std::string& targetAddress,
                                                   const std::string& streamName,
                                                   std::weak_ptr<LiveStreamerDelegate> delegate,
                                                   RTMPClient::Options options) {
    std::shared_ptr<LiveStreamer> streamer(new LiveStreamer());
    streamer->reporter_->setDelegate(std::move(delegate));
    try {
        RTMPClient::Callbacks callbacks;
        std::weak_ptr<internal::StreamReporter> reporter = streamer->reporter_;
        callbacks.errorCallback = [reporter](std::string message) {
            if (auto target = reporter.lock()) {
                ReportingScope scope(target.get());
                target->error(message);
            }
        };
        callbacks.publishStartCallback = [reporter] {
            if (auto target = reporter.lock()) {
                ReportingScope scope(target.get());
                target->publishStarted();
            }
        };
        callbacks.publishStopCallback = [reporter] {
            if (auto target = reporter.lock()) {
                ReportingScope scope(target.get());
                target->publishStopped();
            }
        };
        auto client = std::make_shared<RTMPClient>(targetAddress, streamName, std::move(callbacks),
                                                   options);
        // The muxer belongs to the streamer and calls its output only within put*Sample, under
        // mutex_, so a plain pointer back is valid whenever it runs. The analysis cannot follow
        // the lock through the muxer's callback, hence the exemption.
        LiveStreamer* self = streamer.get();
        auto muxer = std::make_unique<FLVMuxer>(std::make_shared<MediaCallback<FLVFrame>>(
                [self](FLVFrame frame)
                        PELMAR_NO_THREAD_SAFETY_ANALYSIS { self->sendFlvFrame(frame); }));
        {
            MutexLock closeLock(streamer->closeMutex_);
            streamer->closeTarget_ = client;
        }
        MutexLock lock(streamer->mutex_);
        streamer->client_ = std::move(client);
        streamer->muxer_ = std::move(muxer);
        streamer->videoTrackId_ = streamer->muxer_->AddTrack({MediaType::Video, MediaCodec::H264});
        streamer->audioTrackId_ = streamer->muxer_->AddTrack({MediaType::Audio, MediaCodec::AAC});
    } catch (const std::exception& e) {
        foundation::Log::write(e.what());
        streamer->reporter_->setDelegate({});
        streamer->stop();
        return nullptr;
    }
    foundation::Log::write("RTMP client connected");
    return streamer;
}

LiveStreamer::~LiveStreamer() {
    reporter_->setDelegate({});
    stopping_.store(true);
    closeClientNow();
    std::shared_ptr<RTMPClient> client;
    {
        MutexLock lock(mutex_);
        muxer_.reset();
        client = std::move(client_);
    }
    releaseClient(std::move(client));
}

void LiveStreamer::putVideoSample(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    std::vector<std::string> errors;
    {
        MutexLock lock(mutex_);
        if (sampleBuffer && sampleBuffer->formatDescription()) {
            const auto& format = *sampleBuffer->formatDescription();
            const media::Time pts = sampleBuffer->presentationTimeStamp();
            if (format.mediaType() != media::MediaType::Video
                || format.codecType() != media::CodecType::H264) {
                fail("not an H.264 sample");
            } else if (!pts.isNumeric()) {
                fail("invalid presentation time");
            } else if (!sampleBuffer->data().empty()) {
                MediaFrame frame(MediaType::Video, MediaCodec::H264);
                frame.SetPTS(pts.seconds());
                const bool keyFrame = sampleBuffer->isKeyFrame();
                frame.SetKeyFrame(keyFrame);
                auto& data = frame.Data();
                if (keyFrame) {
                    if (format.sps().empty()) {
                        foundation::Log::write("Error getting of sps NAL");
                    } else {
                        appendLengthPrefixed(data, format.sps());
                    }
                    if (format.pps().empty()) {
                        foundation::Log::write("Error getting of pps NAL");
                    } else {
                        appendLengthPrefixed(data, format.pps());
                    }
                }
                const auto payload = sampleBuffer->data();
                data.insert(data.end(), payload.begin(), payload.end());
                // Nothing goes out before the first key frame: a decoder could not start there.
                if (!firstVideoFrameSent_ && keyFrame) {
                    // The stream's metadata says what the encoder really makes.
                    FLVMetadata metadata;
                    if (format.width() > 0 && format.height() > 0) {
                        metadata.width = format.width();
                        metadata.height = format.height();
                    }
                    const media::Time duration = sampleBuffer->duration();
                    if (duration.isNumeric() && duration.seconds() > 0) {
                        metadata.frameRate = 1.0 / duration.seconds();
                    }
                    muxer_->SetMetadata(metadata);
                }
                if (firstVideoFrameSent_ || keyFrame) {
                    firstVideoFrameSent_ = true;
                    mux(frame, videoTrackId_);
                }
            }
        }
        errors.swap(pendingErrors_);
    }
    reportErrors(std::move(errors));
}

void LiveStreamer::putAudioSample(std::span<const uint8_t> data,
                                  std::span<const uint8_t> asc,
                                  media::Time pts) {
    std::vector<std::string> errors;
    {
        MutexLock lock(mutex_);
        const bool keyFrame = !firstAudioFrameSent_;
        if (!pts.isNumeric()) {
            fail("invalid presentation time");
        } else if (keyFrame && asc.empty()) {
            fail("no AudioSpecificConfig");
        } else {
            // The first call sends only the AudioSpecificConfig, which the muxer writes as the
            // sequence header; its packet is not sent.
            MediaFrame frame(MediaType::Audio, MediaCodec::AAC);
            frame.SetPTS(pts.seconds());
            frame.SetKeyFrame(keyFrame);
            const auto bytes = keyFrame ? asc : data;
            frame.Data().assign(bytes.begin(), bytes.end());
            firstAudioFrameSent_ = true;
            mux(frame, audioTrackId_);
        }
        errors.swap(pendingErrors_);
    }
    reportErrors(std::move(errors));
}

void LiveStreamer::stop() {
    stopping_.store(true);
    // A sample of another thread may be waiting under mutex_ for publishing to start: closing
    // first ends that wait, so the stop never waits for it.
    closeClientNow();
    std::shared_ptr<RTMPClient> client;
    {
        MutexLock lock(mutex_);
        client = std::move(client_);
    }
    // Closing ends publishing, waits for the server and then calls onPublishStop, all without
    // mutex_, so the delegate may call back in.
    releaseClient(std::move(client));
}

void LiveStreamer::releaseClient(std::shared_ptr<RTMPClient> client) const {
    if (!client) {
        return;
    }
    if (tReportingFor != reporter_.get()) {
        client.reset();
        return;
    }
    // Called back from the client's receiver thread (the delegate stops or lets go of the
    // streamer from onError or onPublishStart): close here, so onPublishStop still arrives on
    // this thread, but leave the last reference to a thread of its own. The client's destructor
    // joins the receiver thread, which can only end once this callback has returned.
    client->Close();
    std::thread([client = std::move(client)]() mutable { client.reset(); }).detach();
}

void LiveStreamer::closeClientNow() {
    std::shared_ptr<RTMPClient> client;
    {
        MutexLock lock(closeMutex_);
        client = closeTarget_.lock();
        closeTarget_.reset();
    }
    if (client) {
        // Closing here, on the stopping thread, is what delivers onPublishStop on it.
        client->Close();
        releaseClient(std::move(client));
    }
}

std::shared_ptr<LiveStreamerDelegate> LiveStreamer::delegate() const {
    return reporter_->delegate();
}

void LiveStreamer::setDelegate(std::weak_ptr<LiveStreamerDelegate> delegate) {
    reporter_->setDelegate(std::move(delegate));
}

void LiveStreamer::sendFlvFrame(FLVFrame frame) {
    if (!client_) {
        return;
    }
    try {
        client_->PutFrame(frame);
    } catch (const std::exception& e) {
        // The muxer goes on with the next piece. A send cut short by stop() is no failure.
        if (!stopping_.load()) {
            fail(e.what());
        }
    }
}

void LiveStreamer::mux(const MediaFrame& frame, unsigned track) {
    try {
        muxer_->PutFrame(frame, track);
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void LiveStreamer::fail(const std::string& message) {
    pendingErrors_.push_back(message);
}

void LiveStreamer::reportErrors(std::vector<std::string> errors) {
    for (const auto& message : errors) {
        reporter_->error(message);
    }
}

}  // namespace pelmar::live
