#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "pelmar/platform/av/AssetReader.h"

namespace pelmar {

// AudioContext: the loudness outline of an audio file for the waveform view. load() opens the
// file and reads its first audio track; render() decodes a part of it to 16-bit PCM and reduces
// it to a short list of values, 0 for blocks at the -80 dB floor, 1 for full scale.
// Ownership: made by load(), immutable; render() opens the file anew each time.
// Threads: thread-safe. load() completes on a background queue; render() blocks its caller.
// Errors: load() hands nil for a file that cannot be read or has no audio (printing "Couldn't
//     load asset: " and the reason); render() returns what it decoded before a failure, and an
//     empty list for targetSamples <= 0.
class AudioContext {
public:
    static void load(const std::filesystem::path& audioURL,
                     std::function<void(std::shared_ptr<AudioContext>)> completionHandler);

    // About targetSamples values over the first totalSamples / 3 frames.
    std::vector<float> render(int64_t targetSamples) const;

    const std::filesystem::path& audioURL() const { return audioURL_; }

    int64_t totalSamples() const { return totalSamples_; }

    const av::AudioTrackInfo& assetTrack() const { return track_; }

private:
    AudioContext(std::filesystem::path url, int64_t totalSamples, av::AudioTrackInfo track)
        : audioURL_(std::move(url)), totalSamples_(totalSamples), track_(std::move(track)) {}

    std::filesystem::path audioURL_;
    int64_t totalSamples_;
    av::AudioTrackInfo track_;
};

}  // namespace pelmar
