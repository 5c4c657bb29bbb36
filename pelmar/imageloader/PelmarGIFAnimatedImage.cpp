#include "pelmar/imageloader/PelmarGIFAnimatedImage.h"

#include "pelmar/imageloader/PelmarImageDetectors.h"

namespace pelmar {

std::shared_ptr<PelmarGIFAnimatedImage> PelmarGIFAnimatedImage::create(std::string data,
                                                                       int64_t maxPixels) {
    if (!pelmar_isGIF(data)) {
        return nullptr;
    }
    auto animation = image::GifAnimation::open(std::make_shared<const std::string>(std::move(data)),
                                               maxPixels);
    if (!animation) {
        return nullptr;
    }
    return std::make_shared<PelmarGIFAnimatedImage>(Private{}, std::move(animation));
}

float PelmarGIFAnimatedImage::frameDurationForDelay(std::optional<int> delayCentiseconds) {
    static const float kShortest = 1.0f / static_cast<float>(maximumFramesPerSecond());
    if (!delayCentiseconds) {
        return kPelmarAnimatedImageDefaultDuration;
    }
    const float seconds = static_cast<float>(*delayCentiseconds) / 100.0f;
    return seconds < kShortest ? kPelmarAnimatedImageDefaultDuration : seconds;
}

PelmarGIFAnimatedImage::PelmarGIFAnimatedImage(Private,
                                               std::unique_ptr<image::GifAnimation> animation)
    : animation_(std::move(animation)),
      loopCount_(static_cast<uint64_t>(animation_->loopCount().value_or(0))) {
    durations_.reserve(animation_->frameCount());
    for (std::size_t i = 0; i < animation_->frameCount(); ++i) {
        durations_.push_back(frameDurationForDelay(animation_->frame(i).delayCentiseconds));
    }
}

PelmarImage PelmarGIFAnimatedImage::imageAtIndex(std::size_t index,
                                                 PelmarCachedAnimatedFrameProvider*) {
    // Frames come composited in the loader's layout (BGRA, premultiplied), so no redraw follows.
    return animation_->frameAt(index);
}

double PelmarGIFAnimatedImage::durationAtIndex(std::size_t index) const {
    return index < durations_.size() ? durations_[index] : 0.0;
}

}  // namespace pelmar
