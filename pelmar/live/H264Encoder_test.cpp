#include "pelmar/live/H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/SyntheticMedia.h"
#include "testing/Waits.h"

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
    std::vector<uint8_t> luma;  // of the last picture, width x height, row by row
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
            result.luma.resize(static_cast<size_t>(picture->width) * picture->height);
            for (int y = 0; y < picture->height; ++y) {
                std::memcpy(result.luma.data() + static_cast<size_t>(y) * picture->width,
                            picture->data[0] + static_cast<ptrdiff_t>(y) * picture->linesize[0],
                            static_cast<size_t>(picture->width));
            }
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

// A grey BGRA picture with a white square of `side` pixels in its middle.
std::shared_ptr<media::PixelBuffer> SquareOnGrey(int width, int height, int side) {
    auto picture = media::PixelBuffer::create(width, height, media::PixelFormat::BGRA32);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->data() + static_cast<size_t>(y) * picture->bytesPerRow();
        for (int x = 0; x < width; ++x) {
            const bool inSquare =
                    std::abs(2 * x + 1 - width) < side && std::abs(2 * y + 1 - height) < side;
            const uint8_t level = inSquare ? 255 : 128;
            uint8_t* pixel = row + static_cast<size_t>(x) * 4;
            pixel[0] = pixel[1] = pixel[2] = level;
            pixel[3] = 255;
        }
    }
    return picture;
}

TEST(H264EncoderTest, PicturesOfAnotherAspectKeepItBetweenBlackBorders) {
    struct Case {
        const char* name;
        int pictureWidth;
        int pictureHeight;
        int width;  // the encoder's
        int height;
        // Where the picture lands in the stream, and the side its square gets there.
        int left;
        int top;
        int right;
        int bottom;
        int side;
    };

    const Case cases[] = {
            // The camera's default portrait pictures into a landscape stream: 3/4 of the size.
            {"portrait into landscape", 360, 480, 480, 360, 104, 0, 374, 360, 90},
            {"landscape into portrait", 480, 360, 360, 480, 0, 104, 360, 374, 90},
            {"same aspect, half the size", 240, 180, 480, 360, 0, 0, 480, 360, 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto encoder = H264Encoder::create(c.width, c.height, 2'000'000, 30);
        auto delegate = std::make_shared<RecordingDelegate>();
        encoder->setDelegate(delegate);
        const auto picture = SquareOnGrey(c.pictureWidth, c.pictureHeight, 120);
        for (int i = 0; i < 3; ++i) {
            encoder->putCVPixelBuffer(picture, media::Time::make(i, 30));
        }
        const Decoded decoded = Decode(delegate->frames);
        ASSERT_EQ(decoded.frames, 3);
        ASSERT_EQ(decoded.width, c.width);
        ASSERT_EQ(decoded.height, c.height);
        auto luma = [&](int x, int y) {
            return decoded.luma[static_cast<size_t>(y) * c.width + static_cast<size_t>(x)];
        };
        // The square's bright pixels span the same number of rows as columns.
        int minX = c.width;
        int maxX = -1;
        int minY = c.height;
        int maxY = -1;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                if (luma(x, y) > 200) {
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
            }
        }
        EXPECT_NEAR(maxX - minX + 1, c.side, 3);
        EXPECT_NEAR(maxY - minY + 1, c.side, 3);
        EXPECT_NEAR(minX + maxX + 1, c.width, 3) << "centred across";
        EXPECT_NEAR(minY + maxY + 1, c.height, 3) << "centred down";
        // Grey up to the edges of the picture's place, black beyond them (a grid of samples,
        // clear of the edges).
        int darkInside = 0;
        int lightOutside = 0;
        for (int y = 0; y < c.height; y += 8) {
            for (int x = 0; x < c.width; x += 8) {
                const bool inside =
                        x >= c.left + 3 && x < c.right - 3 && y >= c.top + 3 && y < c.bottom - 3;
                const bool outside =
                        x < c.left - 3 || x >= c.right + 3 || y < c.top - 3 || y >= c.bottom + 3;
                darkInside += inside && luma(x, y) < 90;
                lightOutside += outside && luma(x, y) > 30;
            }
        }
        EXPECT_EQ(darkInside, 0);
        EXPECT_EQ(lightOutside, 0);
    }
}

TEST(H264EncoderTest, SessionThatCannotBeCreatedLeavesAnEncoderThatIgnoresPictures) {
    struct Case {
        const char* name;
        int width;
        int height;
        int bitrate;
        int fps;
        const char* line;
    };

    const Case cases[] = {
            {"odd width", 321, 180, 500'000, 30, "unsupported size 321x180"},
            {"odd height", 320, 181, 500'000, 30, "unsupported size 320x181"},
            {"zero height", 320, 0, 500'000, 30, "unsupported size 320x0"},
            {"too wide", 8192, 180, 500'000, 30, "unsupported size 8192x180"},
            {"zero frame rate", 320, 180, 500'000, 0, "unsupported frame rate 0"},
            {"zero bitrate", 320, 180, 0, 30, "unsupported bitrate 0"},
    };

    // The host hears of it through the log sink it set.
    struct StandardSinkAfterwards {
        ~StandardSinkAfterwards() {
            foundation::LogSink::set(foundation::LogSink::standardStreams());
        }
    } restore;

    Mutex mutex;
    std::vector<std::string> lines;
    foundation::LogSink::set(
            foundation::LogSink::callback([&](foundation::LogChannel, std::string_view line) {
                MutexLock lock(mutex);
                lines.emplace_back(line);
            }));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto encoder = H264Encoder::create(c.width, c.height, c.bitrate, c.fps);
        ASSERT_NE(encoder, nullptr);
        {
            MutexLock lock(mutex);
            EXPECT_EQ(lines, std::vector<std::string>{std::string("H.264 encoder initialization "
                                                                  "failed: ")
                                                      + c.line});
            lines.clear();
        }
        EXPECT_EQ(encoder->pixelBufferPool(), nullptr);
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
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    const auto pool = encoder->pixelBufferPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool, encoder->pixelBufferPool()) << "one pool for the session's life";

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
        encoder->putCVPixelBuffer(picture, media::Time::make(i, 30));
    }
    ASSERT_EQ(delegate->frames.size(), 10u);
    const Decoded decoded = Decode(delegate->frames);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.frames, 10);

    foundation::Console::Capture console;
    EXPECT_EQ(H264Encoder::create(321, 180, 500'000, 30)->pixelBufferPool(), nullptr);
}

TEST(H264EncoderTest, SignalledSampleBuffersReachTheDelegateInOrderWithEncodedFrames) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
    ASSERT_EQ(delegate->frames.size(), 1u);
    const auto first = delegate->frames[0];

    // A frame from elsewhere (here the first one again) goes out unchanged, between the others;
    // nothing goes out for no frame.
    encoder->signalCompressedData(first);
    encoder->signalCompressedData(nullptr);
    encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
    ASSERT_EQ(delegate->frames.size(), 3u);
    EXPECT_EQ(delegate->frames[1], first);
    EXPECT_EQ(delegate->frames[2]->presentationTimeStamp(), media::Time::make(1, 30));

    // Without a delegate there is nowhere to go, and that is no error.
    auto silent = H264Encoder::create(320, 180, 500'000, 30);
    foundation::Console::Capture console;
    silent->signalCompressedData(first);
    EXPECT_TRUE(console.lines().empty());
}

// Calls back into its encoder from every delivery: the next picture, until there are five, and
// a look at the pool.
class ReenteringDelegate : public H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        times.push_back(sampleBuffer->presentationTimeStamp());
        auto target = encoder.lock();
        if (target && target->pixelBufferPool() && next < 5) {
            const int i = next++;
            target->putCVPixelBuffer(test::MovingPattern(320, 180, i), media::Time::make(i, 30));
        }
    }

    std::weak_ptr<H264Encoder> encoder;
    int next = 1;
    std::vector<media::Time> times;
};

TEST(H264EncoderTest, DelegateMayCallBackIntoItsEncoderAndFramesStayInOrder) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<ReenteringDelegate>();
    delegate->encoder = encoder;
    encoder->setDelegate(delegate);
    test::BackgroundCall run([encoder] {
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
    });
    ASSERT_TRUE(run.returnsWithin()) << "the encoder deadlocked on its own delegate";
    // Every frame, the ones put from inside the delegate included, before the first call ended.
    ASSERT_EQ(delegate->times.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(delegate->times[static_cast<size_t>(i)], media::Time::make(i, 30)) << i;
    }
}

// Holds the first frame's delivery until released, as a streamer waiting for publishing would.
class WaitingDelegate : public H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        {
            MutexLock lock(mutex);
            times.push_back(sampleBuffer->presentationTimeStamp());
            if (times.size() == 1) {
                entered.set_value();
            }
        }
        if (sampleBuffer->presentationTimeStamp() == media::Time::make(0, 30)) {
            release.wait();
        }
    }

    Mutex mutex;
    std::vector<media::Time> times PELMAR_GUARDED_BY(mutex);
    std::promise<void> entered;
    std::shared_future<void> release;
};

TEST(H264EncoderTest, ADelegateThatWaitsHoldsUpNoOtherThreadAndOrderIsKept) {
    auto encoder = H264Encoder::create(320, 180, 500'000, 30);
    auto delegate = std::make_shared<WaitingDelegate>();
    std::promise<void> release;
    delegate->release = release.get_future().share();
    encoder->setDelegate(delegate);
    test::BackgroundCall first([encoder] {
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 0), media::Time::make(0, 30));
    });
    delegate->entered.get_future().wait();
    test::BackgroundCall second([encoder] {
        encoder->putCVPixelBuffer(test::MovingPattern(320, 180, 1), media::Time::make(1, 30));
    });
    const bool secondReturned = second.returnsWithin();
    release.set_value();
    ASSERT_TRUE(first.returnsWithin());
    ASSERT_TRUE(second.returnsWithin());
    EXPECT_TRUE(secondReturned) << "a picture waited for another thread's delegate";
    // The thread already delivering hands the second frame over after the first.
    MutexLock lock(delegate->mutex);
    EXPECT_EQ(delegate->times,
              (std::vector<media::Time>{media::Time::make(0, 30), media::Time::make(1, 30)}));
}

}  // namespace
}  // namespace pelmar::live
