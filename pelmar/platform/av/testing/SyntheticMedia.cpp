#include "pelmar/platform/av/testing/SyntheticMedia.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "pelmar/platform/av/internal/SyntheticCapture.h"

namespace pelmar::av::test {

std::shared_ptr<media::SampleBuffer> SyntheticMedia::frame(int width,
                                                           int height,
                                                           int64_t index,
                                                           double seconds) {
    auto pixels = media::PixelBuffer::create(width, height, media::PixelFormat::BGRA32);
    internal::SyntheticCapture::drawTestPattern(*pixels, index, false);
    return media::SampleBuffer::createForImageBuffer(
            std::move(pixels),
            {media::Time::make(1, 30), media::Time::makeWithSeconds(seconds, 1'000'000'000),
             media::Time::invalid()});
}

std::shared_ptr<media::SampleBuffer> SyntheticMedia::tone(int64_t firstSample,
                                                          int frames,
                                                          int rate,
                                                          int channels) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(frames) * channels * 2);
    auto* out = reinterpret_cast<int16_t*>(bytes->data());
    for (int i = 0; i < frames; ++i) {
        const double phase =
                2 * std::numbers::pi * 440.0 * static_cast<double>(firstSample + i) / rate;
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<int16_t>(std::lround(8000 * std::sin(phase)));
        }
    }
    return media::SampleBuffer::createWithData(
            media::FormatDescription::forAudio(media::AudioStreamBasicDescription::pcm16(
                    rate, static_cast<uint32_t>(channels))),
            std::move(bytes), frames,
            {{media::Time::make(1, rate), media::Time::make(firstSample, rate),
              media::Time::invalid()}});
}

}  // namespace pelmar::av::test
