#include "pelmar/platform/libav/LibavLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/RunProgram.h"

namespace pelmar::libav {
namespace {

// Opens libx264, encodes one small picture and closes it: the encoder prints its banner when it
// opens and its statistics when it closes, both at FFmpeg's info level.
void EncodeOnePicture() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    ASSERT_NE(codec, nullptr);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = 64;
    context->height = 64;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 25};
    ASSERT_GE(avcodec_open2(context.get(), codec, nullptr), 0);
    FramePtr picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = 64;
    picture->height = 64;
    ASSERT_GE(av_frame_get_buffer(picture.get(), 0), 0);
    av_frame_make_writable(picture.get());
    for (int plane = 0; plane < 3; ++plane) {
        std::fill_n(picture->data[plane], picture->linesize[plane] * (plane == 0 ? 64 : 32), 128);
    }
    picture->pts = 0;
    ASSERT_GE(avcodec_send_frame(context.get(), picture.get()), 0);
    ASSERT_GE(avcodec_send_frame(context.get(), nullptr), 0);
    PacketPtr packet(av_packet_alloc());
    while (avcodec_receive_packet(context.get(), packet.get()) >= 0) {
        av_packet_unref(packet.get());
    }
}

class LibavLogTest : public ::testing::Test {
protected:
    void TearDown() override {
        foundation::LogSink::set(foundation::LogSink::standardStreams());
        foundation::LogSink::setLibraryLogging(false);
    }
};

TEST_F(LibavLogTest, EncoderBannersAndStatisticsAreSilentUntilAskedForThenReachTheSink) {
    Mutex mutex;
    std::vector<std::string> lines;
    ::testing::internal::CaptureStderr();
    EncodeOnePicture();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    foundation::LogSink::setLibraryLogging(true);
    foundation::LogSink::set(foundation::LogSink::callback(
            [&](foundation::LogChannel channel, std::string_view line) {
                MutexLock lock(mutex);
                EXPECT_EQ(channel, foundation::LogChannel::Library);
                lines.emplace_back(line);
            }));
    ::testing::internal::CaptureStderr();
    EncodeOnePicture();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    MutexLock lock(mutex);
    ASSERT_FALSE(lines.empty());
    // Whole lines, each with the component that wrote it in front.
    for (const auto& line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_EQ(line.rfind("[libx264 @ ", 0), 0U) << line;
    }
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("frame I:1") != std::string::npos;
    }));
}

TEST_F(LibavLogTest, AHostGetsFFmpegsLogBackWithOneCall) {
    struct Case {
        const char* name;
        const char* arguments;
        const char* printed;  // the host's line that reaches standard error, if any
    };

    const Case cases[] = {
            {"routed to the SDK, whose library lines are off", "", nullptr},
            {"handed back", "--hand-back", "host warning after"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = test::RunProgramApart(HOST_LOG_PROBE_PATH, c.arguments);
        ASSERT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.errors, c.printed != nullptr ? std::string(c.printed) + "\n" : "");
    }
}

}  // namespace
}  // namespace pelmar::libav
