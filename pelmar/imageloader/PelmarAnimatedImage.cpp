#include "pelmar/imageloader/PelmarAnimatedImage.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

int PelmarAnimatedImage::maximumFramesPerSecond() {
    // A screen that claims 0 frames per second would make every interval 0/0.
    static const int kFramesPerSecond = std::max(ui::Screen::main().maximumFramesPerSecond(), 1);
    return kFramesPerSecond;
}

uint64_t PelmarAnimatedImage::greatestCommonDivisor(uint64_t a, uint64_t b) {
    while (b != 0) {
        const uint64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

double PelmarAnimatedImage::totalDuration() const {
    double total = totalDuration_.load();
    if (total < 0) {
        total = 0;
        for (std::size_t i = 0; i < frameCount(); ++i) {
            total += durationAtIndex(i);
        }
        totalDuration_.store(total);
    }
    return total;
}

double PelmarAnimatedImage::minimumFrameInterval() const {
    // Half screen refreshes, so that durations of odd refresh counts still share a step.
    static const double kScale = 2.0 / (1.0 / maximumFramesPerSecond());
    const std::size_t count = frameCount();
    if (count == 0) {
        return kPelmarAnimatedImageDefaultDuration;
    }
    // std::nearbyint rounds half to even; every step is at least one unit.
    const auto scaled = [&](std::size_t i) {
        return static_cast<uint64_t>(std::max(std::nearbyint(durationAtIndex(i) * kScale), 1.0));
    };
    uint64_t g = scaled(0);
    for (std::size_t i = 1; i < count && g > 1; ++i) {
        const uint64_t d = scaled(i);
        if (d != g) {
            g = greatestCommonDivisor(g, d);
        }
    }
    return static_cast<double>(g) / kScale;
}

uint64_t PelmarAnimatedImage::frameInterval() const {
    return static_cast<uint64_t>(std::max(minimumFrameInterval() * maximumFramesPerSecond(), 1.0));
}

}  // namespace pelmar
