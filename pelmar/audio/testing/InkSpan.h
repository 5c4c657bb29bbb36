#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/testing/Pixels.h"

// InkSpan: where something is painted across a rectangle of a painted bitmap (ui::render), for
// tests that check how text or bars sit in their area.
// Threads: thread-compatible (reads the bitmap only).

namespace pelmar::test {

// The leftmost and rightmost x (points) of what is painted.
struct Span {
    double left = 0;
    double right = 0;

    double middle() const { return (left + right) / 2; }
};

// The span of the pixels inside `rect` (points) whose colour does not look like `background`;
// none when every pixel does.
inline std::optional<Span> inkSpan(const image::Bitmap& bitmap,
                                   ui::Rect rect,
                                   ui::Color background) {
    // Column by column of pixels, each counted by the shared ink reader.
    const double s = bitmap.scale();
    const int x0 = std::max(0, static_cast<int>(std::floor(rect.x * s)));
    const int x1 = std::min(bitmap.width(), static_cast<int>(std::ceil((rect.x + rect.width) * s)));
    std::optional<Span> span;
    for (int x = x0; x < x1; ++x) {
        const ui::Rect column{x / s, rect.y, 1 / s, rect.height};
        if (ui::test::inkCount(bitmap, column, background) > 0) {
            span = Span{span ? span->left : x / s, (x + 1) / s};
        }
    }
    return span;
}

}  // namespace pelmar::test
