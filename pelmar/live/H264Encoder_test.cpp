#include "pelmar/live/H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/internal/H264EncoderCpp.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/SyntheticMedia.h"

namespace pelmar::live {
namespace {

class RecordingDelegate : public H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        frames.push_back(sampleBuffer);
    }

    std::vector<std::shared_ptr<const media::SampleBuffer>> frames;
};

// The NAL unit types of a frame of 4-byte big-endian length-prefixed units; empty when the
// lengths do not add up to the frame's size.
std::vector<int> NalTypes(const media::SampleBuffer& frame) {
    const auto data = frame.data();
    std::vector<int> types;
    size_t at = 0;
    while (at + 4 <= data.size()) {
        const size_t length = (size_t{data[at]} << 24) | (size_t{data[at + 1]} << 16)
                              | (size_t{data[at + 2]} << 8) | data[at + 3];
        at += 4;
        if (length == 0 || at + length > data.size()) {
            return {};
        }
        types.push_back(data[at] & 0x1F);
        at += length;
    }
    return at == data.size() ? types : std::vector<int>{};
}

struct Decoded {
    int frames = 0;
    int width = 0;
    int height = 0;
    int profile = 0;
    int errors = 0;
};

// Decodes the frames with libavcodec: SPS and PPS from the first frame's format description,
// then each frame's units, all rewritten with start codes.
Decoded Decode(const std::vector<std::shared_ptr<const media::SampleBuffer>>& frames) {
    Decoded result;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return result;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(context, picture) == 0) {
            ++result.frames;
            result.width = picture->width;
            result.height = picture->height;
            av_frame_unref(picture);
        }
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        std::vector<uint8_t> annexB;
        auto append = [&](const uint8_t* unit, size_t size) {
            annexB.insert(annexB.end(), {0, 0, 0, 1});
            annexB.insert(annexB.end(), unit, unit + size);
        };
        if (i == 0) {
            const auto& format = *frames[0]->formatDescription();
            append(format.sps().data(), format.sps().size());
            append(format.pps().data(), format.pps().size());
        }
        const auto data = frames[i]->data();
        for (size_t at = 0; at + 4 <= data.size();) {
            const size_t length = (size_t{data[at]} << 24) | (size_t{data[at + 1]} << 16)
                                  | (size_t{data[at + 2]} << 8) | data[at + 3];
            append(data.data() + at + 4, length);
            at += 4 + length;
        }
        packet->data = annexB.data();
        packet->size = static_cast<int>(annexB.size());
        if (avcodec_send_packet(context, packet) < 0) {
            ++result.errors;
        }
        receive();
    }
    avcodec_send_packet(context, nullptr);
    receive();
    result.profile = context->profile;
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return result;
}

TEST(H264EncoderTest, GivesOneFramePerPictureWithKeyFramesEveryTwoSecondsAndTheGivenTimes) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    // Irregular spacing and a start far from zero: the times come back as given, the durations
    // stay 1/30 s.
    std::vector<media::Time> times;
    for (int i = 0; i < 125; ++i) {
        times.push_back(media::Time::make(3600'000 + i * 33 + (i % 3) * 5, 1000));
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, i), times.back());
        ASSERT_EQ(delegate->frames.size(), static_cast<size_t>(i + 1)) << "picture " << i;
    }
    for (int i = 0; i < 125; ++i) {
        SCOPED_TRACE(i);
        const auto& frame = *delegate->frames[static_cast<size_t>(i)];
        EXPECT_EQ(frame.isKeyFrame(), i % 60 == 0);
        EXPECT_EQ(frame.presentationTimeStamp(), times[static_cast<size_t>(i)]);
        EXPECT_EQ(frame.duration(), media::Time::make(1, 30));
        EXPECT_EQ(frame.formatDescription()->codecType(), media::CodecType::H264);
        const auto types = NalTypes(frame);
        ASSERT_FALSE(types.empty()) << "not length-prefixed";
        for (const int type : types) {
            EXPECT_NE(type, 7) << "SPS belongs in the format description";
            EXPECT_NE(type, 8) << "PPS belongs in the format description";
            if (type == 1 || type == 5) {
                EXPECT_EQ(type == 5, frame.isKeyFrame()) << "IDR slices exactly in key frames";
            }
        }
    }
}

TEST(H264EncoderTest, FormatDescriptionCarriesParameterSetsOfADecodableBaselineStream) {
    auto encoder = H264Encoder::create(640, 360, 1'000'000, 30);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    // Pictures of the session size in both pixel formats, and smaller ones that get scaled.
    for (int i = 0; i < 40; ++i) {
        const bool small = i % 4 == 3;
        encoder->putCVPixelBuffer(test::MovingPattern(small ? 320 : 640, small ? 180 : 360, i,
                                                      i % 2 ? media::PixelFormat::ARGB32
                                                            : media::PixelFormat::BGRA32),
                                  media::Time::make(i, 30));
    }
    ASSERT_EQ(delegate->frames.size(), 40u);
    const auto& format = *delegate->frames[0]->formatDescription();
    EXPECT_EQ(format.width(), 640);
    EXPECT_EQ(format.height(), 360);
    ASSERT_GE(format.sps().size(), 4u);
    ASSERT_FALSE(format.pps().empty());
    EXPECT_EQ(format.sps()[0] & 0x1F, 7);
    EXPECT_EQ(format.sps()[1], 66) << "profile_idc of Baseline";
    EXPECT_EQ(format.pps()[0] & 0x1F, 8);

    const Decoded decoded = Decode(delegate->frames);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, 40);
    EXPECT_EQ(decoded.width, 640);
    EXPECT_EQ(decoded.height, 360);
    EXPECT_TRUE(decoded.profile == FF_PROFILE_H264_BASELINE
                || decoded.profile == FF_PROFILE_H264_CONSTRAINED_BASELINE)
            << decoded.profile;
}

TEST(H264EncoderTest, SessionThatCannotBeCreatedLeavesAnEncoderThatIgnoresPictures) {
    struct Case {
        const char* name;
        int width;
        int height;
        int bitrate;
        int fps;
    };

    const Case cases[] = {
            {"odd width", 321, 180, 500'000, 30}, {"zero height", 320, 0, 500'000, 30},
            {"too wide", 8192, 180, 500'000, 30}, {"zero frame rate", 320, 180, 500'000, 0},
            {"zero bitrate", 320, 180, 0, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Console::Capture console;
        auto encoder = H264Encoder::create(c.width, c.height, c.bitrate, c.fps);
        ASSERT_NE(encoder, nullptr);
        EXPECT_TRUE(console.contains("H.264 encoder initialization failed: "));
        auto delegate = std::make_shared<RecordingDelegate>();
        encoder->setDelegate(delegate);
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
        EXPECT_TRUE(delegate->frames.empty());
    }
}

TEST(H264EncoderTest, PicturesItCannotTakeAreReportedAndNeverDelivered) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    foundation::Console::Capture console;
    encoder->putCVPixelBuffer(nullptr, media::Time::make(0, 30));
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::invalid());
    EXPECT_TRUE(delegate->frames.empty());
    EXPECT_TRUE(console.contains("H.264 encoder: no picture; frame dropped"));
    EXPECT_TRUE(console.contains("H.264 encoder: invalid presentation time; frame dropped"));

    // The session goes on; the first frame it does encode is a key frame.
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
    ASSERT_EQ(delegate->frames.size(), 1u);
    EXPECT_TRUE(delegate->frames[0]->isKeyFrame());
}

TEST(H264EncoderTest, FramesWithoutADelegateAreDroppedSilently) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
    EXPECT_EQ(delegate->frames.size(), 1u);
    delegate.reset();  // the encoder holds it weakly
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 2), media::Time::make(2, 30));
    EXPECT_EQ(encoder->delegate(), nullptr);
}

TEST(H264EncoderTest, PixelBufferPoolGivesSessionSizedPicturesThatAreReusedAcrossFrames) {
    std::vector<std::shared_ptr<const media::SampleBuffer>> frames;
    internal::H264EncoderCpp encoder(320, 180, 500'000, 30,
                                     [&frames](std::shared_ptr<const media::SampleBuffer> frame) {
                                         frames.push_back(frame);
                                     });
    const auto pool = encoder.pixelBufferPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool, encoder.pixelBufferPool()) << "one pool for the session's life";

    const media::PixelBuffer* firstPicture = nullptr;
    for (int i = 0; i < 10; ++i) {
        auto picture = pool->createPixelBuffer();
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->width(), 320);
        EXPECT_EQ(picture->height(), 180);
        EXPECT_EQ(picture->format(), media::PixelFormat::BGRA32);
        // The encoder keeps nothing of a picture after putFrame, so the same one serves again.
        if (i == 0) {
            firstPicture = picture.get();
        } else {
            EXPECT_EQ(picture.get(), firstPicture) << "picture " << i;
        }
        const auto pattern = test::MovingPattern(320, 180, i);
        std::memcpy(picture->data(), pattern->data(), pattern->size());
        encoder.putFrame(picture, media::Time::make(i, 30));
    }
    ASSERT_EQ(frames.size(), 10u);
    const Decoded decoded = Decode(frames);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, 10);

    foundation::Console::Capture console;
    internal::H264EncoderCpp broken(321, 180, 500'000, 30, nullptr);
    EXPECT_EQ(broken.pixelBufferPool(), nullptr);
}

TEST(H264EncoderTest, SignalledSampleBuffersLeaveThroughTheOutputInOrderWithEncodedFrames) {
    std::vector<std::shared_ptr<const media::SampleBuffer>> frames;
    internal::H264EncoderCpp encoder(320, 180, 500'000, 30,
                                     [&frames](std::shared_ptr<const media::SampleBuffer> frame) {
                                         frames.push_back(frame);
                                     });
    encoder.putFrame(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
    ASSERT_EQ(frames.size(), 1u);
    const auto first = frames[0];

    // A frame from elsewhere (here the first one again) goes out unchanged, between the others;
    // nothing goes out for no frame.
    encoder.signalCompressedData(first);
    encoder.signalCompressedData(nullptr);
    encoder.putFrame(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], first);
    EXPECT_EQ(frames[2]->presentationTimeStamp(), media::Time::make(1, 30));

    // Without an output function there is nowhere to go, and that is no error.
    internal::H264EncoderCpp silent(320, 180, 500'000, 30, nullptr);
    foundation::Console::Capture console;
    silent.signalCompressedData(first);
    EXPECT_TRUE(console.lines().empty());
}

}  // namespace
}  // namespace pelmar::live
