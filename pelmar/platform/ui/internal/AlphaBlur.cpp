#include "pelmar/platform/ui/internal/AlphaBlur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace pelmar::ui::internal {

namespace {

constexpr int kPasses = 3;

// The odd box widths of kPasses passes whose sum of variances is sigma squared.
std::array<int, kPasses> boxWidths(double sigma) {
    const double n = kPasses;
    const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) {
        --lower;
    }
    const int upper = lower + 2;
    const double l = lower;
    const auto narrow = static_cast<int>(
            std::lround((12 * sigma * sigma - n * l * l - 4 * n * l - 3 * n) / (-4 * l - 4)));
    std::array<int, kPasses> widths{};
    for (int i = 0; i < kPasses; ++i) {
        widths[i] = i < narrow ? lower : upper;
    }
    return widths;
}

// One box pass over `count` samples `step` apart, through `scratch` (count long).
void boxPass(
        uint8_t* first, int count, std::ptrdiff_t step, int radius, std::vector<int>& scratch) {
    for (int i = 0; i < count; ++i) {
        scratch[i] = first[i * step];
    }
    const int width = 2 * radius + 1;
    int sum = 0;
    for (int i = 0; i <= std::min(radius, count - 1); ++i) {
        sum += scratch[i];
    }
    for (int i = 0; i < count; ++i) {
        first[i * step] = static_cast<uint8_t>((sum + width / 2) / width);
        const int entering = i + radius + 1;
        const int leaving = i - radius;
        sum += entering < count ? scratch[entering] : 0;
        sum -= leaving >= 0 ? scratch[leaving] : 0;
    }
}

}  // namespace

void blurAlpha(uint8_t* plane, int width, int height, std::size_t stride, double sigma) {
    if (plane == nullptr || width <= 0 || height <= 0 || !(sigma >= 0.5)) {
        return;
    }
    const auto rowStep = static_cast<std::ptrdiff_t>(stride);
    // Only the ink and as far as the passes spread it change: the rest stays transparent.
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = plane + y * rowStep;
        for (int x = 0; x < width; ++x) {
            if (row[x] != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) {
        return;
    }
    const auto widths = boxWidths(sigma);
    int spread = 0;
    for (const int box : widths) {
        spread += (box - 1) / 2;
    }
    left = std::max(0, left - spread);
    top = std::max(0, top - spread);
    const int w = std::min(width - 1, right + spread) - left + 1;
    const int h = std::min(height - 1, bottom + spread) - top + 1;
    uint8_t* origin = plane + top * rowStep + left;
    std::vector<int> scratch(static_cast<std::size_t>(std::max(w, h)));
    for (const int box : widths) {
        const int radius = (box - 1) / 2;
        if (radius <= 0) {
            continue;
        }
        for (int y = 0; y < h; ++y) {
            boxPass(origin + y * rowStep, w, 1, radius, scratch);
        }
        for (int x = 0; x < w; ++x) {
            boxPass(origin + x, h, rowStep, radius, scratch);
        }
    }
}

}  // namespace pelmar::ui::internal
