#include "pelmar/imageloader/testing/FakeAnimatedImage.h"

namespace pelmar::test {

FakeAnimatedImage::FakeAnimatedImage(uint32_t width,
                                     uint32_t height,
                                     std::vector<double> durations,
                                     uint64_t loopCount)
    : width_(width),
      height_(height),
      durations_(std::move(durations)),
      loopCount_(loopCount),
      decodesPerFrame_(durations_.size(), 0) {}

std::shared_ptr<FakeAnimatedImage> FakeAnimatedImage::make(uint32_t width,
                                                           uint32_t height,
                                                           std::size_t frameCount,
                                                           double duration,
                                                           uint64_t loopCount) {
    return std::make_shared<FakeAnimatedImage>(
            width, height, std::vector<double>(frameCount, duration), loopCount);
}

PelmarImage FakeAnimatedImage::imageAtIndex(std::size_t index, PelmarCachedAnimatedFrameProvider*) {
    ++decodes_;
    std::unique_lock lock(mutex_);
    if (index >= durations_.size()) {
        return nullptr;
    }
    ++decodesPerFrame_[index];
    released_.wait(lock, [&] { return !held_; });
    if (failing_.count(index) != 0) {
        return nullptr;
    }
    auto frame = image::Bitmap::create(1, 1, image::PixelFormat::BGRA8);
    frame->data()[0] = static_cast<uint8_t>(index);
    return frame;
}

double FakeAnimatedImage::durationAtIndex(std::size_t index) const {
    return index < durations_.size() ? durations_[index] : 0.0;
}

void FakeAnimatedImage::failFrame(std::size_t index) {
    std::lock_guard lock(mutex_);
    failing_.insert(index);
}

void FakeAnimatedImage::hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void FakeAnimatedImage::release() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    released_.notify_all();
}

int FakeAnimatedImage::decodeCountOf(std::size_t index) {
    std::lock_guard lock(mutex_);
    return index < decodesPerFrame_.size() ? decodesPerFrame_[index] : 0;
}

}  // namespace pelmar::test
