// Animated GIF data through the frame-indexed reader: whatever it accepts must decode, in order
// and out of order, to screens of its own size within the cap, or answer no frame.
#include "pelmar/platform/image/GifAnimation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Small enough that millions of runs stay fast, large enough for every seed.
constexpr int64_t kFuzzMaxPixels = 1 << 14;
constexpr std::size_t kFramesDecoded = 16;

void check(const std::shared_ptr<pelmar::image::Bitmap>& screen,
           const pelmar::image::GifAnimation& animation) {
    if (!screen) {
        return;
    }
    if (screen->width() != animation.width() || screen->height() != animation.height()) {
        std::abort();
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < screen->byteCount(); ++i) {
        sum += screen->data()[i];
    }
    static_cast<void>(sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    auto animation = pelmar::image::GifAnimation::open(bytes, kFuzzMaxPixels);
    if (!animation) {
        return 0;
    }
    if (animation->frameCount() == 0
        || static_cast<int64_t>(animation->width()) * animation->height() > kFuzzMaxPixels) {
        std::abort();
    }
    const std::size_t count = std::min(animation->frameCount(), kFramesDecoded);
    for (std::size_t i = 0; i < count; ++i) {
        check(animation->frameAt(i), *animation);
    }
    // Backwards, so that every request replays from an earlier frame.
    for (std::size_t i = count; i-- > 0;) {
        check(animation->frameAt(i), *animation);
    }
    if (animation->frameAt(animation->frameCount())) {
        std::abort();
    }
    return 0;
}
