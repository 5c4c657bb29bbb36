#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "pelmar/platform/media/FormatDescription.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"

// SyntheticMedia: camera pictures and microphone samples made up for the streaming library's
// tests and benchmarks: a moving BGRA test pattern, and 16-bit interleaved PCM sample buffers of a
// sine tone with exact times.
// Ownership: free functions returning new buffers.
// Threads: thread-safe.
// Errors: none; sizes are the caller's.

namespace pelmar::test {

// Picture `index` of a pattern that moves a few pixels per picture: colour bars with a moving
// bright square, so every frame differs from the last.
inline std::shared_ptr<media::PixelBuffer> MovingPattern(
        int width, int height, int index, media::PixelFormat format = media::PixelFormat::BGRA32) {
    auto buffer = media::PixelBuffer::create(width, height, format);
    const int squareX = (index * 7) % (width > 32 ? width - 32 : 1);
    const int squareY = (index * 3) % (height > 32 ? height - 32 : 1);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = buffer->data() + static_cast<size_t>(y) * buffer->bytesPerRow();
        for (int x = 0; x < width; ++x) {
            uint8_t r = static_cast<uint8_t>((x * 8 / width) & 1 ? 220 : 40);
            uint8_t g = static_cast<uint8_t>((x * 8 / width) & 2 ? 200 : 30);
            uint8_t b = static_cast<uint8_t>(((x + index) * 255 / (width + index + 1)));
            if (x >= squareX && x < squareX + 32 && y >= squareY && y < squareY + 32) {
                r = g = b = 250;
            }
            uint8_t* p = row + static_cast<size_t>(x) * 4;
            if (format == media::PixelFormat::BGRA32) {
                p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
            } else {
                p[0] = 255, p[1] = r, p[2] = g, p[3] = b;
            }
        }
    }
    return buffer;
}

// Sample `index` of a sine of `frequency` Hz at `sampleRate`, amplitude 0.5 of full scale.
inline int16_t SineSample(int64_t index, double frequency, int sampleRate) {
    const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(index)
                         / static_cast<double>(sampleRate);
    return static_cast<int16_t>(std::lround(16384.0 * std::sin(phase)));
}

// `frames` frames of a sine starting at frame `first` (the same value in every channel), timed at
// first / sampleRate seconds.
inline std::shared_ptr<media::SampleBuffer> SinePcm(
        int64_t first, int64_t frames, int sampleRate, int channels, double frequency = 440.0) {
    auto data = std::make_shared<std::vector<uint8_t>>();
    data->reserve(static_cast<size_t>(frames * channels * 2));
    for (int64_t i = 0; i < frames; ++i) {
        const auto value = static_cast<uint16_t>(SineSample(first + i, frequency, sampleRate));
        for (int c = 0; c < channels; ++c) {
            data->push_back(static_cast<uint8_t>(value & 0xFF));
            data->push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    auto format = media::FormatDescription::forAudio(
            media::AudioStreamBasicDescription::pcm16(sampleRate, static_cast<uint32_t>(channels)));
    return media::SampleBuffer::createWithData(
            format, std::move(data), frames,
            {media::SampleTimingInfo{media::Time::make(1, sampleRate),
                                     media::Time::make(first, sampleRate),
                                     media::Time::invalid()}});
}

}  // namespace pelmar::test
