#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>

namespace pelmar {

// A width and height in pixels.
struct PelmarSize {
    double width = 0;
    double height = 0;

    bool operator==(const PelmarSize&) const = default;
};

// PelmarRemoteImageManagerConfiguration: the settings an image manager starts with.
// Ownership: a plain value type, copied into the manager.
// Threads: thread-compatible.
// Errors: none; the manager clamps both concurrency limits to at least 1.
struct PelmarRemoteImageManagerConfiguration {
    // Twice the processors, at least 2 (also when the processor count cannot be read).
    static uint64_t defaultMaxConcurrentOperations(unsigned activeProcessorCount) {
        return std::max<uint64_t>(2, 2ULL * activeProcessorCount);
    }

    uint64_t maxConcurrentOperations =
            defaultMaxConcurrentOperations(std::thread::hardware_concurrency());
    uint64_t maxConcurrentDownloads = 10;
    double estimatedRemainingTimeThreshold = 0.1;  // seconds
    bool shouldBlurProgressive = true;
    PelmarSize maxProgressiveRenderSize{1024, 1024};
    float highQualityBPSThreshold = 500000;  // bytes per second
    float lowQualityBPSThreshold = 50000;    // bytes per second
    bool shouldUpgradeLowQualityImages = false;
};

}  // namespace pelmar
