#include "pelmar/platform/av/MicrophoneSignal.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "pelmar/platform/av/AssetReader.h"

namespace pelmar::av {

MicrophoneSignal MicrophoneSignal::tone(double frequency, double amplitude) {
    return MicrophoneSignal{Kind::tone, frequency, amplitude, {}};
}

MicrophoneSignal MicrophoneSignal::square(double frequency, double amplitude) {
    return MicrophoneSignal{Kind::square, frequency, amplitude, {}};
}

MicrophoneSignal MicrophoneSignal::silence() {
    return MicrophoneSignal{Kind::silence, 0, 0, {}};
}

MicrophoneSignal MicrophoneSignal::file(std::string path) {
    return MicrophoneSignal{Kind::file, 0, 1, std::move(path)};
}

MicrophoneRenderer::MicrophoneRenderer(MicrophoneSignal signal, double sampleRate, int channels)
    : signal_(std::move(signal)), sampleRate_(sampleRate), channels_(std::max(1, channels)) {
    if (signal_.kind != MicrophoneSignal::Kind::file) {
        return;
    }
    auto [reader, output] = AssetReader::startReadingFile(signal_.path);
    if (!reader) {
        return;
    }
    const int fileChannels = reader->audioTrack().channels;
    fileRate_ = reader->audioTrack().sampleRate;
    while (auto chunk = output->copyNextSampleBuffer()) {
        const auto bytes = chunk->data();
        const auto* samples = reinterpret_cast<const int16_t*>(bytes.data());
        for (int64_t f = 0; f < chunk->numSamples(); ++f) {
            file_.push_back(samples[f * fileChannels]);
        }
    }
}

void MicrophoneRenderer::render(int64_t first, int64_t count, int16_t* out) const {
    const double peak = std::clamp(signal_.amplitude, 0.0, 1.0) * 32767.0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t index = first + i;
        double value = 0;
        switch (signal_.kind) {
            case MicrophoneSignal::Kind::tone:
                value = peak
                        * std::sin(2 * std::numbers::pi * signal_.frequency
                                   * static_cast<double>(index) / sampleRate_);
                break;
            case MicrophoneSignal::Kind::square: {
                const double phase = std::fmod(
                        signal_.frequency * static_cast<double>(index) / sampleRate_, 1.0);
                value = phase < 0.5 ? peak : -peak;
                break;
            }
            case MicrophoneSignal::Kind::silence:
                break;
            case MicrophoneSignal::Kind::file: {
                if (fileRate_ > 0) {
                    const auto at = static_cast<size_t>(static_cast<double>(index) * fileRate_
                                                        / sampleRate_);
                    value = at < file_.size() ? file_[at] : 0;
                }
                break;
            }
        }
        const auto sample = static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
        for (int c = 0; c < channels_; ++c) {
            out[i * channels_ + c] = sample;
        }
    }
}

}  // namespace pelmar::av
