#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarAnimatedImage.h"

namespace pelmar::test {

// FakeAnimatedImage: an animated image of any claimed size whose frames are tiny bitmaps made on
// request, for tests of whatever caches or plays animated images: it counts decodings, fails the
// frames it is told to, and can hold decodings until released.
// Ownership: held by shared_ptr. Threads: thread-safe. Errors: imageAtIndex() answers null for
// failing frames and indexes out of range.
class FakeAnimatedImage : public PelmarAnimatedImage {
public:
    FakeAnimatedImage(uint32_t width,
                      uint32_t height,
                      std::vector<double> durations,
                      uint64_t loopCount = 0);

    // A `frameCount` frame image of `width` x `height`, every frame `duration` seconds.
    static std::shared_ptr<FakeAnimatedImage> make(uint32_t width,
                                                   uint32_t height,
                                                   std::size_t frameCount,
                                                   double duration = 0.1,
                                                   uint64_t loopCount = 0);

    PelmarImage imageAtIndex(std::size_t index, PelmarCachedAnimatedFrameProvider*) override;

    double durationAtIndex(std::size_t index) const override;

    const std::string& data() const override { return data_; }

    uint32_t width() const override { return width_; }

    uint32_t height() const override { return height_; }

    uint64_t bytesPerFrame() const override { return uint64_t{width_} * height_ * 4; }

    uint64_t loopCount() const override { return loopCount_; }

    std::size_t frameCount() const override { return durations_.size(); }

    void failFrame(std::size_t index);

    // While held, decodings wait (on their own threads) until release().
    void hold();
    void release();

    // Decodings started so far, and how many were of `index`.
    int decodeCount() const { return decodes_.load(); }

    int decodeCountOf(std::size_t index);

private:
    const uint32_t width_;
    const uint32_t height_;
    const std::vector<double> durations_;
    const uint64_t loopCount_;
    const std::string data_ = "fake";
    std::atomic<int> decodes_{0};
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    std::set<std::size_t> failing_;
    std::vector<int> decodesPerFrame_;
};

}  // namespace pelmar::test
