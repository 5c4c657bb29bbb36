#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/platform/foundation/Error.h"

namespace pelmar {

// Seconds a frame shows when its file gives no usable delay.
inline constexpr float kPelmarAnimatedImageDefaultDuration = 0.1f;

inline constexpr std::string_view kPelmarAnimatedImageErrorDomain =
        "kPelmarAnimatedImageErrorDomain";

// What an animated image may ask for frames already decoded by whoever caches them.
class PelmarCachedAnimatedFrameProvider {
public:
    virtual ~PelmarCachedAnimatedFrameProvider() = default;

    // The cached frame, or null.
    virtual PelmarImage cachedFrameImageAtIndex(std::size_t index) = 0;
};

// PelmarAnimatedImage: what an animated image is to the image loader: decoded frames with their
// durations, and, derived from those, the total duration and the animation's time grid in screen
// refreshes (frameInterval). Decoders derive from it and override the frame accessors.
// Ownership: held by shared_ptr by the cached animated image that plays it.
// Threads: thread-safe: the derived values are computed once, and decoders must make
//     imageAtIndex() safe to call from any thread.
// Errors: imageAtIndex() answers null for a frame that cannot be decoded; error() is the
//     decoder's own (the GIF decoder never sets one).
class PelmarAnimatedImage {
public:
    PelmarAnimatedImage() = default;
    virtual ~PelmarAnimatedImage() = default;

    PelmarAnimatedImage(const PelmarAnimatedImage&) = delete;
    PelmarAnimatedImage& operator=(const PelmarAnimatedImage&) = delete;

    // The largest frame rate of any screen, read once per process; at least 1.
    static int maximumFramesPerSecond();

    // Euclid's greatest common divisor; gcd(a, 0) = a.
    static uint64_t greatestCommonDivisor(uint64_t a, uint64_t b);

    // A display-ready frame (the loader's bitmap layout), or null. `cacheProvider` may be null.
    virtual PelmarImage imageAtIndex(std::size_t index,
                                     PelmarCachedAnimatedFrameProvider* cacheProvider) = 0;

    // Seconds; 0 in this base.
    virtual double durationAtIndex(std::size_t) const { return 0; }

    virtual const std::string& data() const = 0;

    virtual uint32_t width() const = 0;

    virtual uint32_t height() const = 0;

    // width x height x 4, in 64 bits so that no screen size wraps it.
    virtual uint64_t bytesPerFrame() const = 0;

    // 0 = endless.
    virtual uint64_t loopCount() const = 0;

    virtual std::size_t frameCount() const { return 0; }

    virtual std::optional<Error> error() const { return std::nullopt; }

    // Sum of the frame durations, computed on first use.
    double totalDuration() const;

    // The coarsest time step on which every frame starts, in seconds: the greatest common divisor
    // of the durations measured in half screen refreshes; kPelmarAnimatedImageDefaultDuration
    // when there are no frames.
    double minimumFrameInterval() const;

    // Screen refreshes per step of minimumFrameInterval(), at least 1.
    uint64_t frameInterval() const;

private:
    mutable std::atomic<double> totalDuration_{-1.0};
};

}  // namespace pelmar
