#include "pelmar/audio/AudioContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar {

namespace {

constexpr float kNoiseFloor = -80.0f;

// The mean level in dB (amplitude against 32768, clipped to [-80, 0]) of each block of
// `samplesPerPixel` samples among the first `count` of `samples`.
void processSamples(const int16_t* samples,
                    int64_t count,
                    int64_t samplesPerPixel,
                    std::vector<float>& output) {
    for (int64_t block = 0; block + samplesPerPixel <= count; block += samplesPerPixel) {
        double sum = 0;
        for (int64_t i = block; i < block + samplesPerPixel; ++i) {
            const float magnitude = std::abs(static_cast<float>(samples[i]));
            float db = magnitude > 0 ? 20.0f * std::log10(magnitude / 32768.0f)
                                     : -std::numeric_limits<float>::infinity();
            db = std::clamp(db, kNoiseFloor, 0.0f);
            sum += db / static_cast<float>(samplesPerPixel);
        }
        output.push_back(static_cast<float>(sum));
    }
}

// Values in [-80, 0] to loudness: blocks at the floor give 0, blocks at full scale 1.
std::vector<float> normalise(const std::vector<float>& values) {
    if (values.empty()) {
        return {};
    }
    const float first = values.front();
    float lo = first;
    float hi = first;
    for (float v : values) {
        lo = std::min(lo, std::abs(v));
        hi = std::max(hi, std::abs(v));
    }
    std::vector<float> result;
    result.reserve(values.size());
    for (float v : values) {
        const float a = std::abs(v);
        // A 0 dB block when the first one is at 0 dB too: full level instead of 0/0.
        result.push_back(a == lo ? 1.0f : std::abs(1.0f - (hi - lo) / (a - lo)));
    }
    return result;
}

}  // namespace

void AudioContext::load(const std::filesystem::path& audioURL,
                        std::function<void(std::shared_ptr<AudioContext>)> completionHandler) {
    dispatch::Queue::global()->async([audioURL, completionHandler = std::move(completionHandler)] {
        std::optional<Error> error;
        auto track = av::AssetReader::probeAudio(audioURL.string(), &error);
        std::shared_ptr<AudioContext> context;
        if (!track) {
            foundation::Console::print("Couldn't load asset: "
                                       + (error ? error->description() : "Unknown error"));
        } else if (track->duration.isNumeric() && track->sampleRate > 0) {
            const double total = track->sampleRate * static_cast<double>(track->duration.value)
                                 / static_cast<double>(track->duration.timescale);
            if (std::isfinite(total) && total >= 0 && total < 9.0e18) {
                context.reset(new AudioContext(audioURL, static_cast<int64_t>(total), *track));
            }
        }
        if (completionHandler) {
            completionHandler(std::move(context));
        }
    });
}

std::vector<float> AudioContext::render(int64_t targetSamples) const {
    if (targetSamples <= 0) {
        return {};
    }
    auto reader = av::AssetReader::open(audioURL_.string(), nullptr);
    if (!reader) {
        return {};
    }
    const int64_t third = totalSamples_ / 3;
    // The sample count serves as a tick count of the duration's timescale.
    const auto timescale = reader->audioTrack().duration.isValid()
                                   ? reader->audioTrack().duration.timescale
                                   : static_cast<int32_t>(track_.sampleRate);
    reader->setTimeRange(media::Time::make(0, timescale), media::Time::make(third, timescale));
    auto output = std::make_shared<av::AssetReaderTrackOutput>();
    output->alwaysCopiesSampleData = false;
    reader->add(output);
    const int64_t channels = std::max(1, reader->audioTrack().channels);
    const int64_t samplesPerPixel = std::max<int64_t>(1, channels * third / targetSamples);
    std::vector<float> values;
    if (reader->startReading()) {
        std::vector<int16_t> buffer;
        while (reader->status() == av::AssetReader::Status::reading) {
            auto chunk = output->copyNextSampleBuffer();
            if (!chunk) {
                break;
            }
            const auto bytes = chunk->data();
            const size_t old = buffer.size();
            buffer.resize(old + bytes.size() / 2);
            std::memcpy(buffer.data() + old, bytes.data(), (bytes.size() / 2) * 2);
            const auto n = static_cast<int64_t>(buffer.size());
            const int64_t toProcess = (n / samplesPerPixel) * samplesPerPixel;
            if (toProcess > 0) {
                processSamples(buffer.data(), toProcess, samplesPerPixel, values);
                buffer.erase(buffer.begin(), buffer.begin() + toProcess);
            }
        }
        if (!buffer.empty()) {
            processSamples(buffer.data(), static_cast<int64_t>(buffer.size()),
                           static_cast<int64_t>(buffer.size()), values);
        }
    }
    reader->cancelReading();
    return normalise(values);
}

}  // namespace pelmar
