#include "pelmar/live/LiveStreamer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/live/AACEncoder.h"
#include "pelmar/live/AMF0.h"
#include "pelmar/live/H264Encoder.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/LoopbackPeer.h"
#include "pelmar/live/testing/RTMPWire.h"
#include "pelmar/live/testing/RecordingStreamerDelegate.h"
#include "pelmar/live/testing/RefusingPort.h"
#include "pelmar/live/testing/ScriptedRtmpServer.h"
#include "pelmar/live/testing/ThreadState.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/LogCapture.h"
#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Patience.h"
#include "testing/SyntheticMedia.h"

namespace pelmar::live {
namespace {

class CountingDelegate : public LiveStreamerDelegate {
public:
    void onError(const std::string&) override { ++calls; }

    void onPublishStart() override { ++calls; }

    void onPublishStop() override { ++calls; }

    std::atomic<int> calls{0};
};

TEST(LiveStreamerTest, FailedConnectionYieldsNoStreamerAndNoDelegateCall) {
    test::LoopbackPeer silent;  // listens, but never answers the handshake
    const test::RefusingPort refusing;

    struct Case {
        const char* name;
        std::string address;
        const char* logged;
    };

    const Case cases[] = {
            {"closed port", "rtmp://127.0.0.1:" + std::to_string(refusing.port()) + "/live",
             "can't connect socket"},
            {"silent server", "rtmp://127.0.0.1:" + std::to_string(silent.port()) + "/live",
             nullptr},
            {"port out of range", "rtmp://127.0.0.1:70000/live", "invalid port"},
    };
    RTMPClient::Options options;
    options.timeouts.connect = std::chrono::milliseconds(500);
    options.timeouts.receive = std::chrono::milliseconds(200);
    options.timeouts.send = std::chrono::milliseconds(200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Log::Capture log;
        auto delegate = std::make_shared<CountingDelegate>();
        EXPECT_EQ(LiveStreamer::create(c.address, "cam", delegate, options), nullptr);
        EXPECT_EQ(delegate->calls.load(), 0);
        EXPECT_FALSE(log.lines().empty());
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.contains(c.logged));
        }
        EXPECT_FALSE(log.contains("RTMP client connected"));
    }
}

// Gives up on the streamer at the first error, on the thread that reports it: stops it, or lets
// go of the only reference to it.
class GivingUpDelegate : public LiveStreamerDelegate {
public:
    void onError(const std::string&) override {
        if (owned) {
            owned.reset();
            gaveUp.set_value();
        } else if (auto target = streamer.lock()) {
            target->stop();
        }
    }

    void onPublishStop() override { gaveUp.set_value(); }

    std::weak_ptr<LiveStreamer> streamer;
    std::shared_ptr<LiveStreamer> owned;
    std::promise<void> gaveUp;
};

TEST(LiveStreamerTest, DelegateMayStopOrReleaseTheStreamerWhenTheServerRefusesIt) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "stopped");
        test::ScriptedRtmpServer server;
        auto delegate = std::make_shared<GivingUpDelegate>();
        auto pending = std::async(std::launch::async, [&] {
            return LiveStreamer::create(
                    "rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live", "cam",
                    delegate);
        });
        server.Handshake();
        server.ReadCommand();  // connect
        auto streamer = pending.get();
        ASSERT_NE(streamer, nullptr);
        delegate->streamer = streamer;
        if (release) {
            delegate->owned = std::move(streamer);
        }
        server.WriteCommand({AMFValue::String("_error"), AMFValue::Number(1), AMFValue::Null(),
                             test::StatusObject("error", "NetConnection.Connect.Rejected")});

        delegate->gaveUp.get_future().get();
        EXPECT_TRUE(server.peer.ReadsEndOfStream());
        if (streamer) {
            streamer->stop();
        }
    }
}

// A streamer whose server has taken "publish" but never confirms it: the first sample waits at the
// publishing gate, holding the streamer.
struct WaitingAtTheGate {
    WaitingAtTheGate() {
        RTMPClient::Options options;
        options.publishTimeout = std::chrono::seconds(60);
        auto pending = std::async(std::launch::async, [&] {
            return LiveStreamer::create(
                    "rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live", "cam",
                    delegate, options);
        });
        server.Handshake();
        server.AnswerUntilPublish();
        streamer = pending.get();
        std::promise<pid_t> tid;
        feeder = std::async(std::launch::async, [&] {
            tid.set_value(test::CurrentThreadId());
            // Audio alone starts the stream once it spans more than the muxer waits for video.
            streamer->putAudioSample(test::Hex("01"), test::Hex("11 88"),
                                     media::Time::make(0, 1000));
            streamer->putAudioSample(test::Hex("02"), test::Hex("11 88"),
                                     media::Time::make(2000, 1000));
        });
        waiting = test::WaitUntilBlocked(tid.get_future().get());
    }

    test::ScriptedRtmpServer server;
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
    std::shared_ptr<LiveStreamer> streamer;
    std::future<void> feeder;
    bool waiting = false;
};

TEST(LiveStreamerTest, StopEndsAWaitForPublishingAtOnceWithoutAnError) {
    WaitingAtTheGate gate;
    ASSERT_NE(gate.streamer, nullptr);
    ASSERT_TRUE(gate.waiting);
    auto stopping = std::async(std::launch::async, [&] { gate.streamer->stop(); });
    // Well inside the 60 s the sample would otherwise wait for.
    ASSERT_EQ(stopping.wait_for(test::kPatience), std::future_status::ready);
    ASSERT_EQ(gate.feeder.wait_for(test::kPatience), std::future_status::ready);
    EXPECT_TRUE(gate.server.peer.ReadsEndOfStream());
    gate.server.peer.CloseConnection();
    // onPublishStop only: the wait that the stop cut short is no failure.
    EXPECT_EQ(gate.delegate->calls.load(), 1);
}

class VideoToStreamer : public H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        streamer->putVideoSample(sampleBuffer);
    }

    std::shared_ptr<LiveStreamer> streamer;
};

class AudioToStreamer : public AACEncoderDelegate {
public:
    void compressedAudioDataReceived(std::span<const uint8_t> data,
                                     std::span<const uint8_t> asc,
                                     media::Time pts) override {
        streamer->putAudioSample(data, asc, pts);
    }

    std::shared_ptr<LiveStreamer> streamer;
};

TEST(LiveStreamerTest, MetadataTellsTheEncodersSettingsWhenAudioStartsFirst) {
    test::ScriptedRtmpServer server;
    auto pending = std::async(std::launch::async, [&] {
        return LiveStreamer::create(
                "rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live", "cam");
    });
    server.Handshake();
    server.AcceptPublish();
    auto videoOut = std::make_shared<VideoToStreamer>();
    auto audioOut = std::make_shared<AudioToStreamer>();
    videoOut->streamer = audioOut->streamer = pending.get();
    ASSERT_NE(videoOut->streamer, nullptr);
    auto video = H264Encoder::create(640, 360, 500'000, 25);
    auto audio = AACEncoder::create(48000, 1, 64'000);
    video->setDelegate(videoOut);
    audio->setDelegate(audioOut);
    // A tenth of a second of sound before the first picture.
    audio->putCMSampleBuffer(test::SinePcm(0, 4800, 48000, 1));
    video->putCVPixelBuffer(test::MovingPattern(640, 360, 0), media::Time::make(4, 40));

    const auto metadata = test::DecodeAmf(server.ReadMessage().Data());
    ASSERT_EQ(metadata.size(), 3U);
    EXPECT_EQ(metadata[1]->ToStringImpl(), "STRING: onMetaData");
    const auto& array = dynamic_cast<const AMFArray&>(*metadata[2]);
    EXPECT_EQ(array.GetValue("width")->ToStringImpl(), "NUMBER: 640.000000");
    EXPECT_EQ(array.GetValue("height")->ToStringImpl(), "NUMBER: 360.000000");
    EXPECT_EQ(array.GetValue("framerate")->ToStringImpl(), "NUMBER: 25.000000");
    EXPECT_EQ(array.GetValue("audiosamplerate")->ToStringImpl(), "NUMBER: 48000.000000");
    EXPECT_EQ(array.GetValue("stereo")->ToStringImpl(), "BOOL: false");
    server.peer.CloseConnection();
    videoOut->streamer->stop();
}

// A streamer publishing to a scripted server that has confirmed publishing, with one key frame
// and the audio configuration sent.
struct Publishing {
    Publishing() {
        auto pending = std::async(std::launch::async, [&] {
            return LiveStreamer::create(
                    "rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live", "cam",
                    delegate);
        });
        server.Handshake();
        server.AcceptPublish();
        streamer = pending.get();
        auto encoder = H264Encoder::create(320, 180, 300'000, 30);
        auto recorder = std::make_shared<VideoToStreamer>();
        recorder->streamer = streamer;
        encoder->setDelegate(recorder);
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
        streamer->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"),
                                 media::Time::make(0, 1000));
    }

    test::ScriptedRtmpServer server;
    std::shared_ptr<test::RecordingStreamerDelegate> delegate =
            std::make_shared<test::RecordingStreamerDelegate>();
    std::shared_ptr<LiveStreamer> streamer;
};

TEST(LiveStreamerTest, AServerGoneMidStreamIsReportedOnceHoweverManySamplesFollow) {
    Publishing publishing;
    ASSERT_NE(publishing.streamer, nullptr);
    publishing.server.peer.CloseConnection();
    // Five seconds of audio packets into the cut connection.
    for (int i = 0; i < 220; ++i) {
        publishing.streamer->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"),
                                            media::Time::make(23 * (i + 1), 1000));
    }
    ASSERT_TRUE(publishing.delegate->waitForError());
    for (int i = 0; i < 20; ++i) {
        publishing.streamer->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"),
                                            media::Time::make(23 * (i + 221), 1000));
    }
    // Counted once the streamer has stopped, so an error told late is counted too.
    publishing.streamer->stop();
    EXPECT_EQ(publishing.delegate->errors().size(), 1U)
            << ::testing::PrintToString(publishing.delegate->errors());
    EXPECT_EQ(publishing.delegate->stops(), 1);
}

TEST(LiveStreamerTest, AStoppedStreamerSendsNothingMore) {
    Publishing publishing;
    ASSERT_NE(publishing.streamer, nullptr);
    // The server reads every message on a thread of its own until the client hangs up.
    auto received = std::async(std::launch::async, [&] {
        std::vector<std::string> messages;
        try {
            for (;;) {
                const auto message = publishing.server.ReadMessage();
                const auto type = message.Header().packetType;
                messages.push_back(type == RTMPPacketType::Command
                                           ? test::DecodeAmf(message.Data())[0]->ToStringImpl()
                                           : std::to_string(static_cast<int>(type)));
            }
        } catch (const std::exception&) {
        }
        return messages;
    });
    publishing.streamer->putAudioSample(test::Hex("0A 0B"), test::Hex("12 10"),
                                        media::Time::make(23, 1000));
    publishing.streamer->stop();
    // Far enough apart that a muxer still sending would let them out.
    for (int second = 1; second <= 3; ++second) {
        publishing.streamer->putAudioSample(test::Hex("0C"), test::Hex("12 10"),
                                            media::Time::make(second, 1));
    }
    publishing.streamer->stop();
    ASSERT_EQ(received.wait_for(test::kPatience), std::future_status::ready);
    const auto messages = received.get();
    // Metadata, the two sequence headers and the media put before stop(); then the end of the
    // stream and nothing after it.
    ASSERT_GE(messages.size(), 2U);
    EXPECT_EQ(std::vector<std::string>(messages.end() - 2, messages.end()),
              (std::vector<std::string>{"STRING: FCUnpublish", "STRING: deleteStream"}))
            << ::testing::PrintToString(messages);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "9"), messages.end())
            << ::testing::PrintToString(messages);
    EXPECT_EQ(publishing.delegate->errors(), std::vector<std::string>{});
    EXPECT_EQ(publishing.delegate->stops(), 1);
}

// Makes `sink` the process's log sink while alive; the default one is back afterwards, whatever
// the test did meanwhile.
class ScopedLogSink {
public:
    explicit ScopedLogSink(foundation::LogSink sink) { foundation::LogSink::set(std::move(sink)); }

    ~ScopedLogSink() { foundation::LogSink::set(foundation::LogSink::standardStreams()); }

    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;
};

// Captures what reaches standard output and standard error while alive, or until taken.
class CapturedStreams {
public:
    CapturedStreams() {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
    }

    ~CapturedStreams() { take(); }

    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;

    // Standard output, then standard error.
    std::pair<std::string, std::string> take() {
        if (!taken_) {
            taken_ = true;
            out_ = ::testing::internal::GetCapturedStdout();
            err_ = ::testing::internal::GetCapturedStderr();
        }
        return {out_, err_};
    }

private:
    bool taken_ = false;
    std::string out_;
    std::string err_;
};

TEST(LiveStreamerTest, ItsLinesGoToTheLogSinkTheHostSet) {
    struct Case {
        const char* name;
        bool quiet;
    };

    for (const Case c : {Case{"callback", false}, Case{"quiet", true}}) {
        SCOPED_TRACE(c.name);
        Mutex mutex;
        std::vector<std::pair<foundation::LogChannel, std::string>> lines;
        const ScopedLogSink sink(
                c.quiet ? foundation::LogSink::quiet()
                        : foundation::LogSink::callback(
                                [&](foundation::LogChannel channel, std::string_view line) {
                                    MutexLock lock(mutex);
                                    lines.emplace_back(channel, line);
                                }));
        // Sees every line written, whatever the sink does with it.
        const foundation::LogCapture written(foundation::LogChannel::Output);
        CapturedStreams printed;
        {
            Publishing publishing;
            ASSERT_NE(publishing.streamer, nullptr);
            publishing.streamer->stop();
        }
        const auto [out, err] = printed.take();
        EXPECT_EQ(out, "");
        EXPECT_EQ(err, "");
        // The streamer did write its lines; only the sink decides where they went.
        EXPECT_TRUE(written.contains("publishing successfully started"));
        MutexLock lock(mutex);
        if (c.quiet) {
            continue;
        }
        auto has = [&](foundation::LogChannel channel, const std::string& prefix) {
            return std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
                return line.first == channel && line.second.rfind(prefix, 0) == 0;
            });
        };
        EXPECT_TRUE(has(foundation::LogChannel::Output, "connecting to rtmp server 127.0.0.1:"));
        EXPECT_TRUE(has(foundation::LogChannel::Output, "publishing successfully started"));
        EXPECT_TRUE(has(foundation::LogChannel::Output, "closing rtmp connection"));
        EXPECT_TRUE(has(foundation::LogChannel::Diagnostic, "RTMP client connected"));
    }
}

}  // namespace
}  // namespace pelmar::live
