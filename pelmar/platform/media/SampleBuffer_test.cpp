#include "pelmar/platform/media/SampleBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pelmar::media {
namespace {

TEST(SampleBufferTest, ACopyWithNewTimingSharesThePayloadAndAttachments) {
    auto pixels = PixelBuffer::create(4, 2, PixelFormat::BGRA32);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->bytesPerRow(), 16U);
    auto frame = SampleBuffer::createForImageBuffer(
            pixels, {Time::make(1, 30), Time::make(10, 30), Time::invalid()});
    ASSERT_NE(frame, nullptr);
    frame->attachments()["{Exif}"]["BrightnessValue"] = 1.5;
    EXPECT_EQ(frame->formatDescription()->width(), 4);
    EXPECT_EQ(frame->formatDescription()->codecType(), CodecType::RawBGRA);

    auto shifted = frame->copyWithNewTiming({{Time::make(1, 30), Time::make(4, 30), Time()}});
    ASSERT_NE(shifted, nullptr);
    EXPECT_EQ(shifted->imageBuffer(), pixels);
    EXPECT_EQ(shifted->presentationTimeStamp(), Time::make(4, 30));
    EXPECT_EQ(frame->presentationTimeStamp(), Time::make(10, 30));
    EXPECT_EQ(shifted->attachments()["{Exif}"]["BrightnessValue"], 1.5);
    EXPECT_EQ(frame->copyWithNewTiming({}), nullptr);
}

TEST(SampleBufferTest, AudioRunsCheckTheirSizeAndLastTheirFrameCount) {
    const auto format = FormatDescription::forAudio(AudioStreamBasicDescription::pcm16(44100, 2));
    const SampleTimingInfo timing{Time::make(1, 44100), Time::make(0, 44100), Time()};
    auto good = SampleBuffer::createWithData(
            format, std::make_shared<std::vector<uint8_t>>(1024 * 4), 1024, {timing});
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->duration(), Time::make(1024, 44100));
    EXPECT_EQ(good->data().size(), 4096U);

    EXPECT_EQ(SampleBuffer::createWithData(format, std::make_shared<std::vector<uint8_t>>(1023 * 4),
                                           1024, {timing}),
              nullptr);
    EXPECT_EQ(SampleBuffer::createWithData(format, nullptr, 0, {timing}), nullptr);
    EXPECT_EQ(PixelBuffer::create(0, 10, PixelFormat::BGRA32), nullptr);
    EXPECT_EQ(PixelBuffer::create(PixelBuffer::kMaxDimension + 1, 1, PixelFormat::ARGB32), nullptr);
}

TEST(SampleBufferTest, HugeSampleCountsAreRefusedOrHaveNoDuration) {
    // A sample count whose byte size wraps around to the real size must not pass the check.
    const auto pcm = FormatDescription::forAudio(AudioStreamBasicDescription::pcm16(44100, 2));
    const SampleTimingInfo pcmTiming{Time::make(1, 44100), Time::make(0, 44100), Time()};
    EXPECT_EQ(SampleBuffer::createWithData(pcm, std::make_shared<std::vector<uint8_t>>(),
                                           int64_t{1} << 62, {pcmTiming}),
              nullptr);

    // Encoded runs carry any count; a duration that does not fit is invalid, not wrapped.
    const auto aac = FormatDescription::forAudio(AudioStreamBasicDescription::aac(44100, 2));
    const SampleTimingInfo aacTiming{Time::make(1024, 44100), Time::make(0, 44100), Time()};
    auto run = SampleBuffer::createWithData(aac, std::make_shared<std::vector<uint8_t>>(8),
                                            int64_t{1} << 60, {aacTiming});
    ASSERT_NE(run, nullptr);
    EXPECT_FALSE(run->duration().isValid());
}

}  // namespace
}  // namespace pelmar::media
