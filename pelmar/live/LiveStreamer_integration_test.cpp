#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/live/AACEncoder.h"
#include "pelmar/live/H264Encoder.h"
#include "pelmar/live/LiveStreamer.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/H264Fixture.h"
#include "pelmar/live/testing/RecordingStreamerDelegate.h"
#include "pelmar/live/testing/ScriptedRtmpServer.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/NginxRtmpServer.h"
#include "testing/SyntheticMedia.h"

namespace pelmar::live {
namespace {

// One nginx for the whole test program; a test fails with the reason when it did not start.
class NginxEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        try {
            server.Start();
            started = true;
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }

    void TearDown() override { server.Stop(); }

    static test::NginxRtmpServer server;
    static bool started;
    static std::string failure;
};

test::NginxRtmpServer NginxEnvironment::server;
bool NginxEnvironment::started = false;
std::string NginxEnvironment::failure;
const auto* const kNginx = ::testing::AddGlobalTestEnvironment(new NginxEnvironment);

test::NginxRtmpServer& Nginx() {
    return NginxEnvironment::server;
}

using RecordingDelegate = test::RecordingStreamerDelegate;

class VideoToStreamer : public H264EncoderDelegate {
public:
    explicit VideoToStreamer(std::shared_ptr<LiveStreamer> streamer)
        : streamer_(std::move(streamer)) {}

    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        streamer_->putVideoSample(sampleBuffer);
    }

private:
    std::shared_ptr<LiveStreamer> streamer_;
};

class AudioToStreamer : public AACEncoderDelegate {
public:
    explicit AudioToStreamer(std::shared_ptr<LiveStreamer> streamer)
        : streamer_(std::move(streamer)) {}

    void compressedAudioDataReceived(std::span<const uint8_t> data,
                                     std::span<const uint8_t> asc,
                                     media::Time pts) override {
        streamer_->putAudioSample(data, asc, pts);
    }

private:
    std::shared_ptr<LiveStreamer> streamer_;
};

// Keeps two feeding threads within a tenth of a second of media time of each other, as a camera
// and a microphone would be, without pacing either to the wall clock.
class MediaClock {
public:
    void advance(int feeder, double seconds) {
        pelmar::MutexLock lock(mutex_);
        time_[feeder] = seconds;
        changed_.notifyAll();
        while (!done_[1 - feeder] && time_[1 - feeder] < seconds - 0.1) {
            changed_.wait(mutex_);
        }
    }

    void finish(int feeder) {
        pelmar::MutexLock lock(mutex_);
        done_[feeder] = true;
        changed_.notifyAll();
    }

private:
    pelmar::Mutex mutex_;
    pelmar::CondVar changed_;
    double time_[2] PELMAR_GUARDED_BY(mutex_) = {0, 0};
    bool done_[2] PELMAR_GUARDED_BY(mutex_) = {false, false};
};

struct FlvTag {
    uint8_t type;
    uint32_t time;  // ms
    std::vector<uint8_t> body;
};

// The tags of an FLV file.
std::vector<FlvTag> ReadFlvTags(const std::filesystem::path& path) {
    const auto bytes = test::ReadFileBytes(path);
    std::vector<FlvTag> tags;
    size_t at = 13;
    while (at + 11 <= bytes.size()) {
        const size_t size =
                (size_t{bytes[at + 1]} << 16) | (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        const uint32_t time = (uint32_t{bytes[at + 7]} << 24) | (uint32_t{bytes[at + 4]} << 16)
                              | (uint32_t{bytes[at + 5]} << 8) | bytes[at + 6];
        if (at + 11 + size + 4 > bytes.size()) {
            break;
        }
        tags.push_back({bytes[at], time,
                        std::vector<uint8_t>(
                                bytes.begin() + static_cast<std::ptrdiff_t>(at + 11),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at + 11 + size))});
        at += 11 + size + 4;
    }
    return tags;
}

// The recording of `stream` once nginx has closed it (its record-done hook has run).
std::filesystem::path FinishedRecording(const std::string& stream) {
    auto path = Nginx().WaitForRecording(stream);
    if (path.empty()) {
        ADD_FAILURE() << "nginx did not close the recording of " << stream << ": " << Nginx().Log();
    }
    return path;
}

std::string UniqueName(const std::string& base) {
    static int counter = 0;
    return base + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// A streamer publishing `name` to nginx, fed by an H.264 and a stereo AAC encoder; `streamer`
// is null when it could not connect.
struct Publisher {
    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<LiveStreamer> streamer;
    std::shared_ptr<H264Encoder> video;
    std::shared_ptr<AACEncoder> audio;
    std::shared_ptr<VideoToStreamer> videoOut;
    std::shared_ptr<AudioToStreamer> audioOut;
};

Publisher Publish(const std::string& name, int width, int height, int fps, int sampleRate) {
    Publisher p;
    p.delegate = std::make_shared<RecordingDelegate>();
    p.streamer = LiveStreamer::create(Nginx().Url(), name, p.delegate);
    p.video = H264Encoder::create(width, height, width * height * 5, fps);
    p.audio = AACEncoder::create(sampleRate, 2, 128'000);
    p.videoOut = std::make_shared<VideoToStreamer>(p.streamer);
    p.audioOut = std::make_shared<AudioToStreamer>(p.streamer);
    p.video->setDelegate(p.videoOut);
    p.audio->setDelegate(p.audioOut);
    return p;
}

// Energy of the difference between decoded 16-bit stereo PCM (first channel) and the 440 Hz
// sine at `sampleRate`, over frames [from, to), relative to the sine's energy.
double SineError(const std::vector<uint8_t>& pcm, int64_t from, int64_t to, int sampleRate) {
    double error = 0;
    double signal = 0;
    for (int64_t i = from; i < to; ++i) {
        const auto at = static_cast<size_t>(i) * 4;
        const auto decoded = static_cast<int16_t>(pcm[at] | (pcm[at + 1] << 8));
        const double expected = test::SineSample(i, 440.0, sampleRate);
        error += (decoded - expected) * (decoded - expected);
        signal += expected * expected;
    }
    return error / signal;
}

#define REQUIRE_NGINX() ASSERT_TRUE(NginxEnvironment::started) << NginxEnvironment::failure

TEST(LiveStreamerIntegrationTest, PublishesTenSecondsFedFromTwoThreadsInSyncAndWhole) {
    REQUIRE_NGINX();
    constexpr int kFps = 30;
    constexpr int kFrames = 10 * kFps;
    constexpr int kRate = 44100;
    constexpr int64_t kSamples = 10 * kRate;
    constexpr int64_t kChunk = kRate / kFps;
    const std::string name = UniqueName("e2e");

    const Publisher publisher = Publish(name, 640, 360, kFps, kRate);
    ASSERT_NE(publisher.streamer, nullptr);
    const auto& delegate = publisher.delegate;
    const auto& streamer = publisher.streamer;
    const auto& video = publisher.video;
    const auto& audio = publisher.audio;

    MediaClock clock;
    std::thread camera([&] {
        for (int i = 0; i < kFrames; ++i) {
            clock.advance(0, static_cast<double>(i) / kFps);
            video->putCVPixelBuffer(test::MovingPattern(640, 360, i), media::Time::make(i, kFps));
        }
        clock.finish(0);
    });
    std::thread microphone([&] {
        for (int64_t at = 0; at < kSamples; at += kChunk) {
            clock.advance(1, static_cast<double>(at) / kRate);
            audio->putCMSampleBuffer(test::SinePcm(at, std::min(kChunk, kSamples - at), kRate, 2));
        }
        audio->flush();
        clock.finish(1);
    });
    camera.join();
    microphone.join();
    streamer->stop();
    EXPECT_EQ(delegate->starts(), 1);
    EXPECT_EQ(delegate->stops(), 1);
    EXPECT_TRUE(delegate->errors().empty()) << delegate->errors().front();

    const auto recording = FinishedRecording(name);
    const auto probe = nlohmann::json::parse(test::RunCommand(
            "ffprobe -v error -count_packets -show_entries "
            "stream=codec_type,codec_name,profile,width,height,sample_rate,channels,start_time,"
            "nb_read_packets:format=duration -of json '"
            + recording.string() + "'"));
    nlohmann::json videoStream;
    nlohmann::json audioStream;
    for (const auto& stream : probe.at("streams")) {
        (stream.at("codec_type") == "video" ? videoStream : audioStream) = stream;
    }
    EXPECT_NEAR(std::stod(probe.at("format").at("duration").get<std::string>()), 10.0, 0.2);
    ASSERT_FALSE(videoStream.is_null()) << probe.dump();
    ASSERT_FALSE(audioStream.is_null()) << probe.dump();
    EXPECT_EQ(videoStream.at("codec_name"), "h264");
    EXPECT_TRUE(videoStream.at("profile") == "Constrained Baseline"
                || videoStream.at("profile") == "Baseline")
            << videoStream.at("profile");
    EXPECT_EQ(videoStream.at("width"), 640);
    EXPECT_EQ(videoStream.at("height"), 360);
    EXPECT_EQ(videoStream.at("nb_read_packets"), std::to_string(kFrames));
    EXPECT_EQ(audioStream.at("codec_name"), "aac");
    EXPECT_EQ(audioStream.at("sample_rate"), "44100");
    EXPECT_EQ(audioStream.at("channels"), 2);
    const double videoStart = std::stod(videoStream.at("start_time").get<std::string>());
    const double audioStart = std::stod(audioStream.at("start_time").get<std::string>());
    EXPECT_LE(std::abs(videoStart - audioStart), 0.05);

    // Packet times from the recording: each stream spans 10 s, and the audio packets follow each
    // other at exactly 1024 samples, every input sample in one of them (the last padded).
    auto times = [&](const char* stream) {
        std::istringstream lines(test::RunCommand(
                "ffprobe -v error -select_streams " + std::string(stream)
                + " -show_entries packet=pts_time -of csv=p=0 '" + recording.string() + "'"));
        std::vector<double> values;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                values.push_back(std::stod(line));
            }
        }
        return values;
    };
    const auto videoTimes = times("v");
    const auto audioTimes = times("a");
    ASSERT_EQ(videoTimes.size(), static_cast<size_t>(kFrames));
    ASSERT_EQ(audioTimes.size(), static_cast<size_t>((kSamples + 1023) / 1024));
    EXPECT_NEAR(videoTimes.back() - videoTimes.front() + 1.0 / kFps, 10.0, 0.2);
    EXPECT_NEAR(audioTimes.back() - audioTimes.front() + 1024.0 / kRate, 10.0, 0.2);
    for (size_t i = 1; i < audioTimes.size(); ++i) {
        const double step = audioTimes[i] - audioTimes[i - 1];
        ASSERT_TRUE(step >= 0.0225 && step <= 0.0245) << "audio packet " << i << " after " << step;
    }
    EXPECT_NEAR(audioTimes.back() - audioTimes.front(),
                static_cast<double>(audioTimes.size() - 1) * 1024.0 / kRate, 0.002);

    // The decoded audio is the sine that went in, sample for sample (the first packet, which the
    // stream leaves out, held only the encoder's priming; the first 1024 samples lack its help).
    const auto pcmPath = Nginx().recordDir() / (name + ".pcm");
    test::RunCommand("ffmpeg -v error -y -i '" + recording.string() + "' -map 0:a -f s16le '"
                     + pcmPath.string() + "'");
    const auto pcm = test::ReadFileBytes(pcmPath);
    ASSERT_EQ(pcm.size(), static_cast<size_t>((kSamples + 1023) / 1024 * 1024 * 4));
    EXPECT_LT(SineError(pcm, 1024, kSamples, kRate), 0.001);
}

struct OffTableRate {
    const char* name;
    int rate;
    int tableRate;  // the nearest rate of the AAC table, which the stream carries
};

class OffTableRateIntegrationTest : public ::testing::TestWithParam<OffTableRate> {};

TEST_P(OffTableRateIntegrationTest, AudioAtARateOutsideTheAacTablePlaysAtTheNearestTableRate) {
    REQUIRE_NGINX();
    constexpr int kFps = 30;
    constexpr int kSeconds = 4;
    const int kRate = GetParam().rate;
    const int kTableRate = GetParam().tableRate;
    const int64_t kChunk = kRate / kFps;
    const std::string name = UniqueName(std::string("offrate-") + GetParam().name);

    const Publisher publisher = Publish(name, 320, 180, kFps, kRate);
    ASSERT_NE(publisher.streamer, nullptr);
    const auto& delegate = publisher.delegate;
    const auto& streamer = publisher.streamer;
    const auto& video = publisher.video;
    const auto& audio = publisher.audio;
    for (int i = 0; i < kSeconds * kFps; ++i) {
        video->putCVPixelBuffer(test::MovingPattern(320, 180, i), media::Time::make(i, kFps));
        audio->putCMSampleBuffer(test::SinePcm(i * kChunk, kChunk, kRate, 2));
    }
    audio->flush();
    streamer->stop();
    EXPECT_TRUE(delegate->errors().empty()) << delegate->errors().front();
    const auto recording = FinishedRecording(name);

    const auto probe = nlohmann::json::parse(test::RunCommand(
            "ffprobe -v error -select_streams a -count_packets -show_entries "
            "stream=codec_name,profile,sample_rate,channels,nb_read_packets -of json '"
            + recording.string() + "'"));
    ASSERT_EQ(probe.at("streams").size(), 1u) << probe.dump();
    const auto& stream = probe.at("streams")[0];
    EXPECT_EQ(stream.at("codec_name"), "aac");
    EXPECT_EQ(stream.at("profile"), "LC");
    EXPECT_EQ(stream.at("sample_rate"), std::to_string(kTableRate));
    EXPECT_EQ(stream.at("channels"), 2);
    // Every packet but the priming one, which the stream leaves out: what was sent, in whole
    // packets.
    const int64_t packets = std::stoll(stream.at("nb_read_packets").get<std::string>());
    EXPECT_NEAR(static_cast<double>(packets) * 1024 / kTableRate, kSeconds, 1024.0 / kTableRate);

    // Neither ffprobe decoding every frame nor FFmpeg's decoder has a word to say about it.
    EXPECT_EQ(test::RunCommand("ffprobe -v error -select_streams a -show_frames '"
                               + recording.string() + "' 2>&1 >/dev/null"),
              "");
    const auto pcmPath = Nginx().recordDir() / (name + ".pcm");
    EXPECT_EQ(test::RunCommand("ffmpeg -v error -y -i '" + recording.string()
                               + "' -map 0:a -f s16le '" + pcmPath.string() + "' 2>&1"),
              "");
    // As long as what was sent, and the tone that was sent, at the table rate.
    const auto pcm = test::ReadFileBytes(pcmPath);
    ASSERT_EQ(pcm.size(), static_cast<size_t>(packets * 1024 * 4));
    EXPECT_LT(SineError(pcm, 1024, kSeconds * kTableRate - 1024, kTableRate), 0.01);
}

void PrintTo(const OffTableRate& rate, std::ostream* out) {
    *out << rate.name << " (" << rate.rate << " Hz)";
}

std::string OffTableRateName(const ::testing::TestParamInfo<OffTableRate>& rate) {
    return rate.param.name;
}

// Between table rates, above the table's highest and below its lowest.
INSTANTIATE_TEST_SUITE_P(Rates,
                         OffTableRateIntegrationTest,
                         ::testing::Values(OffTableRate{"between", 37800, 32000},
                                           OffTableRate{"above", 192000, 96000},
                                           OffTableRate{"below", 4000, 7350}),
                         OffTableRateName);

class RecordingVideo : public H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        frames.push_back(sampleBuffer);
    }

    std::vector<std::shared_ptr<const media::SampleBuffer>> frames;
};

// Three encoded frames of 320x180: a key frame, then two that depend on it.
std::vector<std::shared_ptr<const media::SampleBuffer>> ThreeFrames() {
    auto encoder = H264Encoder::create(320, 180, 300'000, 30);
    auto recorder = std::make_shared<RecordingVideo>();
    encoder->setDelegate(recorder);
    for (int i = 0; i < 3; ++i) {
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, i), media::Time::make(i, 30));
    }
    return recorder->frames;
}

// What a stopped streamer sends (nothing) is checked at a scripted peer, which, unlike nginx,
// would record it.
TEST(LiveStreamerIntegrationTest, SendsConfigurationFirstAndNothingBeforeAKeyFrame) {
    REQUIRE_NGINX();
    const auto frames = ThreeFrames();
    ASSERT_EQ(frames.size(), 3u);
    ASSERT_TRUE(frames[0]->isKeyFrame());
    ASSERT_FALSE(frames[1]->isKeyFrame());
    const std::string name = UniqueName("tags");
    auto delegate = std::make_shared<RecordingDelegate>();
    auto streamer = LiveStreamer::create(Nginx().Url(), name, delegate);
    ASSERT_NE(streamer, nullptr);

    streamer->putVideoSample(frames[1]);  // before any key frame: dropped
    streamer->putAudioSample(test::Hex("01 02 03"), test::Hex("12 10"), media::Time::make(0, 1000));
    streamer->putVideoSample(frames[0]);
    streamer->putAudioSample(test::Hex("0A 0B"), test::Hex("12 10"), media::Time::make(23, 1000));
    streamer->putVideoSample(frames[1]);
    streamer->putVideoSample(frames[2]);
    streamer->stop();
    EXPECT_EQ(delegate->starts(), 1);
    EXPECT_EQ(delegate->stops(), 1);
    EXPECT_TRUE(delegate->errors().empty()) << delegate->errors().front();

    // nginx repeats the sequence headers it holds when it opens the recording, so those are
    // checked for what they say, the media tags one by one.
    std::vector<std::vector<uint8_t>> videoFrames;
    std::vector<std::string> audioPackets;
    bool sequenceHeaderFirst = false;
    for (const auto& tag : ReadFlvTags(FinishedRecording(name))) {
        ASSERT_GE(tag.body.size(), 2u);
        if (tag.type == 9 && tag.body[1] == 0) {
            EXPECT_EQ(tag.body[0], 0x17);
            sequenceHeaderFirst = sequenceHeaderFirst || videoFrames.empty();
        } else if (tag.type == 9) {
            videoFrames.push_back(tag.body);
        } else if (tag.type == 8 && tag.body[1] == 0) {
            EXPECT_EQ(test::ToHex(tag.body), "AF 00 12 10");
            EXPECT_TRUE(audioPackets.empty()) << "configuration after a packet";
        } else if (tag.type == 8) {
            audioPackets.push_back(test::ToHex(tag.body));
        }
    }
    EXPECT_TRUE(sequenceHeaderFirst);
    // The three frames from the key frame on; the key frame carries its SPS and PPS in front,
    // each with its 4-byte length.
    ASSERT_EQ(videoFrames.size(), 3u);
    const auto& key = videoFrames[0];
    const auto& sps = frames[0]->formatDescription()->sps();
    ASSERT_GT(key.size(), 9 + sps.size());
    EXPECT_EQ(test::ToHex({key.begin(), key.begin() + 2}), "17 01");
    EXPECT_EQ(test::ToHex({key.begin() + 5, key.begin() + 9}),
              test::ToHex({0, 0, 0, static_cast<uint8_t>(sps.size())}));
    EXPECT_EQ(std::vector<uint8_t>(key.begin() + 9,
                                   key.begin() + 9 + static_cast<std::ptrdiff_t>(sps.size())),
              sps);
    EXPECT_EQ(videoFrames[1][0], 0x27);
    EXPECT_EQ(videoFrames[2][0], 0x27);
    // The first audio call gave the configuration alone; only the second's packet went out.
    EXPECT_EQ(audioPackets, std::vector<std::string>{"AF 01 0A 0B"});
}

TEST(LiveStreamerIntegrationTest, ServerThatRefusesOrDropsTheStreamReachesOnError) {
    REQUIRE_NGINX();
    const auto frames = ThreeFrames();
    RTMPClient::Options options;
    options.publishTimeout = std::chrono::milliseconds(3000);

    {
        SCOPED_TRACE("stream name already publishing");
        const std::string name = UniqueName("taken");
        auto firstDelegate = std::make_shared<RecordingDelegate>();
        auto first = LiveStreamer::create(Nginx().Url(), name, firstDelegate, options);
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(firstDelegate->waitForStart());
        auto delegate = std::make_shared<RecordingDelegate>();
        auto second = LiveStreamer::create(Nginx().Url(), name, delegate, options);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(delegate->waitForError("NetStream.Publish.BadName"));
        // The stream starts once both tracks have given a frame.
        second->putVideoSample(frames[0]);
        second->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"), media::Time::make(0, 1));
        EXPECT_TRUE(delegate->waitForError("can't start publishing"));
        EXPECT_EQ(delegate->starts(), 0);
        EXPECT_TRUE(firstDelegate->errors().empty());
    }
    {
        SCOPED_TRACE("unknown application");
        auto delegate = std::make_shared<RecordingDelegate>();
        auto streamer = LiveStreamer::create(Nginx().Url("nosuchapp"), UniqueName("lost"), delegate,
                                             options);
        ASSERT_NE(streamer, nullptr);
        streamer->putVideoSample(frames[0]);
        streamer->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"),
                                 media::Time::make(0, 1));
        EXPECT_TRUE(delegate->waitForError("can't start publishing"));
        EXPECT_EQ(delegate->starts(), 0);
    }
    {
        SCOPED_TRACE("server gone while publishing");
        test::NginxRtmpServer own;
        own.Start();
        auto delegate = std::make_shared<RecordingDelegate>();
        auto streamer = LiveStreamer::create(own.Url(), UniqueName("dropped"), delegate, options);
        ASSERT_NE(streamer, nullptr);
        streamer->putVideoSample(frames[0]);
        ASSERT_TRUE(delegate->waitForStart());
        own.Kill();
        // Samples go on arriving; the lost connection is told once, whichever side notices it.
        for (int i = 0; i < 100; ++i) {
            streamer->putVideoSample(frames[1 + i % 2]);
        }
        EXPECT_TRUE(delegate->waitForError());
        for (int i = 0; i < 100; ++i) {
            streamer->putVideoSample(frames[1 + i % 2]);
        }
        EXPECT_EQ(delegate->errors().size(), 1U) << ::testing::PrintToString(delegate->errors());
        streamer->stop();
        EXPECT_EQ(delegate->stops(), 1);
    }
}

// The FLV file a recording server would make of the audio, video and metadata messages a
// client published: the messages as tags at their message times.
std::vector<uint8_t> FlvOfMessages(const std::vector<RTMPPacket>& messages) {
    std::vector<uint8_t> flv = test::Hex("46 4C 56 01 05 00 00 00 09 00 00 00 00");
    for (const auto& message : messages) {
        const auto type = static_cast<uint8_t>(message.Header().packetType);
        std::vector<uint8_t> body = message.Data();
        if (type == 18) {
            // "@setDataFrame" is for the server; a file keeps what follows it.
            body.erase(body.begin(), body.begin() + 16);
        } else if (type != 8 && type != 9) {
            continue;
        }
        const uint32_t size = static_cast<uint32_t>(body.size());
        const uint32_t time = message.Header().timestamp;
        const uint8_t header[11] = {type,
                                    static_cast<uint8_t>(size >> 16),
                                    static_cast<uint8_t>(size >> 8),
                                    static_cast<uint8_t>(size),
                                    static_cast<uint8_t>(time >> 16),
                                    static_cast<uint8_t>(time >> 8),
                                    static_cast<uint8_t>(time),
                                    static_cast<uint8_t>(time >> 24),
                                    0,
                                    0,
                                    0};
        flv.insert(flv.end(), std::begin(header), std::end(header));
        flv.insert(flv.end(), body.begin(), body.end());
        const uint32_t tagSize = size + 11;
        for (const int shift : {24, 16, 8, 0}) {
            flv.push_back(static_cast<uint8_t>(tagSize >> shift));
        }
    }
    return flv;
}

TEST(LiveStreamerIntegrationTest,
     ALatePublishStartReportsTheFailedWaitThenPublishesAPlayableStream) {
    constexpr int kFps = 30;
    constexpr int kRate = 44100;
    constexpr int64_t kChunk = kRate / kFps;
    test::ScriptedRtmpServer server;
    auto delegate = std::make_shared<RecordingDelegate>();
    RTMPClient::Options options;
    options.publishTimeout = std::chrono::milliseconds(200);
    auto pending = std::async(std::launch::async, [&] {
        return LiveStreamer::create(
                "rtmp://127.0.0.1:" + std::to_string(server.peer.port()) + "/live", "late",
                delegate, options);
    });
    server.Handshake();
    server.AnswerUntilPublish();  // and says nothing yet
    const auto streamer = pending.get();
    ASSERT_NE(streamer, nullptr);
    auto video = H264Encoder::create(320, 180, 300'000, kFps);
    auto audio = AACEncoder::create(kRate, 2, 128'000);
    auto videoOut = std::make_shared<VideoToStreamer>(streamer);
    auto audioOut = std::make_shared<AudioToStreamer>(streamer);
    video->setDelegate(videoOut);
    audio->setDelegate(audioOut);
    auto feed = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            video->putCVPixelBuffer(test::MovingPattern(320, 180, i), media::Time::make(i, kFps));
            audio->putCMSampleBuffer(test::SinePcm(i * kChunk, kChunk, kRate, 2));
        }
    };

    // The first frames meet a server that has not confirmed: the wait for it gives up.
    feed(0, 10);
    ASSERT_TRUE(delegate->waitForError("can't start publishing"));
    server.ConfirmPublish();
    ASSERT_TRUE(delegate->waitForStart());
    // From here the server only listens, on a thread of its own, until the client hangs up.
    auto received = std::async(std::launch::async, [&server] {
        std::vector<RTMPPacket> messages;
        try {
            for (;;) {
                messages.push_back(server.ReadMessage());
            }
        } catch (const std::exception&) {
        }
        return messages;
    });
    feed(10, 5 * kFps);
    audio->flush();
    streamer->stop();
    const auto messages = received.get();
    EXPECT_EQ(delegate->events(), (std::vector<std::string>{"onError(can't start publishing)",
                                                            "onPublishStart", "onPublishStop"}));

    // What the server got plays: the configuration came again ahead of the media, and video
    // resumed at a key frame.
    const auto path = Nginx().recordDir() / (UniqueName("late") + ".flv");
    test::WriteFileBytes(path, FlvOfMessages(messages));
    const auto probe = nlohmann::json::parse(test::RunCommand(
            "ffprobe -v error -show_entries stream=codec_name,width,height,sample_rate -of json '"
            + path.string() + "'"));
    std::vector<std::string> codecs;
    for (const auto& stream : probe.at("streams")) {
        codecs.push_back(stream.at("codec_name").get<std::string>());
        if (codecs.back() == "h264") {
            EXPECT_EQ(stream.at("width"), 320);
            EXPECT_EQ(stream.at("height"), 180);
        } else {
            EXPECT_EQ(stream.at("sample_rate"), "44100");
        }
    }
    std::sort(codecs.begin(), codecs.end());
    EXPECT_EQ(codecs, (std::vector<std::string>{"aac", "h264"})) << probe.dump();
    EXPECT_EQ(test::RunCommand("ffmpeg -v error -i '" + path.string() + "' -f null - 2>&1"), "");
    // At least the second key frame (frame 60) onwards, all of it decodable.
    const auto packets = test::ProbeVideoPackets(path.string());
    ASSERT_GE(packets.size(), static_cast<size_t>(5 * kFps - 60));
    EXPECT_EQ(packets[0].substr(packets[0].find(',')), ",K_");
}

TEST(LiveStreamerIntegrationTest, StopWhileSamplesArriveFromTwoThreadsIsSafe) {
    REQUIRE_NGINX();
    const auto frames = ThreeFrames();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto streamer = LiveStreamer::create(Nginx().Url(), UniqueName("race"), delegate);
    ASSERT_NE(streamer, nullptr);
    streamer->putVideoSample(frames[0]);
    ASSERT_TRUE(delegate->waitForStart());
    std::thread camera([&] {
        for (int i = 0; i < 300; ++i) {
            auto frame = frames[static_cast<size_t>(i % 3)]->copyWithNewTiming(
                    {media::SampleTimingInfo{media::Time::make(1, 30), media::Time::make(i, 30),
                                             media::Time::invalid()}});
            frame->setKeyFrame(i % 3 == 0);
            streamer->putVideoSample(frame);
        }
    });
    std::thread microphone([&] {
        for (int i = 0; i < 300; ++i) {
            streamer->putAudioSample(test::Hex("21 10 04"), test::Hex("12 10"),
                                     media::Time::make(i * 1024, 44100));
        }
    });
    streamer->stop();
    camera.join();
    microphone.join();
    streamer->stop();
    EXPECT_EQ(delegate->stops(), 1);
    EXPECT_TRUE(delegate->errors().empty()) << delegate->errors().front();
}

}  // namespace
}  // namespace pelmar::live
