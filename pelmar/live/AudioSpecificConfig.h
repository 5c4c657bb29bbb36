#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>

// AudioSpecificConfig: the MPEG-4 audio sampling-frequency table, the table rate nearest to any
// other rate, and a reader for the sample
// rate and channel count of an AudioSpecificConfig (ISO/IEC 14496-3), the two or five bytes that
// describe an AAC stream.
// Ownership: free functions on values.
// Threads: thread-safe.
// Errors: none; ReadAudioSpecificConfig gives nothing for bytes it cannot read.
// Limits: reads only the leading fields (object type, frequency, channel configuration).

namespace pelmar::live {

// The sampling frequencies by index; index 15 means an explicit 24-bit frequency follows.
inline constexpr int kAACSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};

// The index of `rate` in kAACSampleRates, or 15 when it is not there.
inline int AACSampleRateIndex(int rate) {
    for (size_t index = 0; index < std::size(kAACSampleRates); ++index) {
        if (kAACSampleRates[index] == rate) {
            return static_cast<int>(index);
        }
    }
    return 15;
}

// The rate of kAACSampleRates closest to `rate` (the higher of two equally close); `rate` itself
// when it is in the table.
inline int AACNearestSampleRate(int rate) {
    int nearest = kAACSampleRates[0];
    for (const int candidate : kAACSampleRates) {
        const long long distance = static_cast<long long>(candidate) - rate;
        const long long best = static_cast<long long>(nearest) - rate;
        if ((distance < 0 ? -distance : distance) < (best < 0 ? -best : best)) {
            nearest = candidate;
        }
    }
    return nearest;
}

struct AudioConfiguration {
    int sampleRate = 0;
    int channels = 0;  // the channel configuration; 0 when the stream defines its own
};

inline std::optional<AudioConfiguration> ReadAudioSpecificConfig(std::span<const uint8_t> asc) {
    // Bits read big-endian from the front.
    size_t bit = 0;
    auto read = [&](unsigned count) -> std::optional<uint32_t> {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit) {
            if (bit / 8 >= asc.size()) {
                return std::nullopt;
            }
            value = (value << 1) | ((asc[bit / 8] >> (7 - bit % 8)) & 1U);
        }
        return value;
    };
    auto objectType = read(5);
    if (objectType == 31U) {
        objectType = read(6);  // escaped object type
    }
    const auto index = read(4);
    if (!objectType || !index) {
        return std::nullopt;
    }
    AudioConfiguration configuration;
    if (*index == 15) {
        const auto frequency = read(24);
        if (!frequency || *frequency == 0) {
            return std::nullopt;
        }
        configuration.sampleRate = static_cast<int>(*frequency);
    } else if (*index < std::size(kAACSampleRates)) {
        configuration.sampleRate = kAACSampleRates[*index];
    } else {
        return std::nullopt;
    }
    const auto channels = read(4);
    if (!channels) {
        return std::nullopt;
    }
    // Configuration 7 is 7.1 (eight channels); the others count their channels.
    configuration.channels = *channels == 7 ? 8 : static_cast<int>(*channels);
    return configuration;
}

}  // namespace pelmar::live
