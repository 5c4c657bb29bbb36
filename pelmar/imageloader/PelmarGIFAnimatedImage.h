#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarAnimatedImage.h"
#include "pelmar/platform/image/GifAnimation.h"

namespace pelmar {

// PelmarGIFAnimatedImage: an animated GIF as a PelmarAnimatedImage: frame count, loop count
// (NETSCAPE2.0, 0 when absent), screen size and per-frame durations read once; frames decoded on
// request and composited on the GIF's screen (image::GifAnimation).
// Ownership: made by create() and held by shared_ptr; keeps the GIF bytes.
// Threads: thread-safe.
// Errors: create() answers null for data that is not a GIF, cannot be read, has no frames or
//     exceeds the limits; imageAtIndex() answers null for an index out of range or a corrupt
//     frame.
// Limits: those of image::GifAnimation, with the pixel cap given to create().
class PelmarGIFAnimatedImage : public PelmarAnimatedImage {
    struct Private {};

public:
    static std::shared_ptr<PelmarGIFAnimatedImage> create(
            std::string data, int64_t maxPixels = image::Bitmap::kMaxPixels);

    // One frame's duration from its delay (hundredths of a second; none without a graphic
    // control extension): kPelmarAnimatedImageDefaultDuration when absent or shorter than one
    // refresh of the fastest screen. Single precision, as the delay is stored.
    static float frameDurationForDelay(std::optional<int> delayCentiseconds);

    PelmarGIFAnimatedImage(Private, std::unique_ptr<image::GifAnimation> animation);

    PelmarImage imageAtIndex(std::size_t index,
                             PelmarCachedAnimatedFrameProvider* cacheProvider) override;

    double durationAtIndex(std::size_t index) const override;

    const std::string& data() const override { return *animation_->data(); }

    uint32_t width() const override { return static_cast<uint32_t>(animation_->width()); }

    uint32_t height() const override { return static_cast<uint32_t>(animation_->height()); }

    uint64_t bytesPerFrame() const override {
        return static_cast<uint64_t>(width()) * height() * 4;
    }

    uint64_t loopCount() const override { return loopCount_; }

    std::size_t frameCount() const override { return animation_->frameCount(); }

private:
    const std::unique_ptr<image::GifAnimation> animation_;
    const uint64_t loopCount_;
    std::vector<double> durations_;
};

}  // namespace pelmar
