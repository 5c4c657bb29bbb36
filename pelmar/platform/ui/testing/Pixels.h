#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Rect.h"

// Pixels: reading a painted bitmap (ui::render) the way a person looks at it: the colour at a
// point, whether two colours look alike, and how much of a rectangle differs from its background.
// Points are the view's points; the bitmap's scale maps them to pixels.
// Threads: thread-compatible (reads the bitmap only).

namespace pelmar::ui::test {

// The un-premultiplied colour of the pixel under point (x, y); clear outside the bitmap.
inline Color colorAt(const image::Bitmap& bitmap, double x, double y) {
    const int px = static_cast<int>(std::floor(x * bitmap.scale()));
    const int py = static_cast<int>(std::floor(y * bitmap.scale()));
    if (px < 0 || py < 0 || px >= bitmap.width() || py >= bitmap.height()) {
        return Color::clear();
    }
    const uint8_t* p = bitmap.pixel(px, py);
    const bool bgra = bitmap.format() == image::PixelFormat::BGRA8;
    const double a = bitmap.format() == image::PixelFormat::Gray8 ? 1.0 : p[3] / 255.0;
    const auto channel = [&](uint8_t c) {
        const double v = c / 255.0;
        return bitmap.premultiplied() ? (a > 0 ? std::min(1.0, v / a) : 0.0) : v;
    };
    if (bitmap.format() == image::PixelFormat::Gray8) {
        return {channel(p[0]), channel(p[0]), channel(p[0]), 1};
    }
    return {channel(bgra ? p[2] : p[0]), channel(p[1]), channel(bgra ? p[0] : p[2]), a};
}

// Whether every component of `a` is within `tolerance` of `b`'s.
inline bool looksLike(Color a, Color b, double tolerance = 0.06) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance
           && std::abs(a.blue - b.blue) <= tolerance && std::abs(a.alpha - b.alpha) <= tolerance;
}

// The pixels a rectangle of points covers, as [x0, x1) by [y0, y1), within the bitmap.
struct PixelBox {
    int x0, y0, x1, y1;
};

inline PixelBox pixelBox(const image::Bitmap& bitmap, Rect rect) {
    const double s = bitmap.scale();
    return {std::max(0, static_cast<int>(std::floor(rect.x * s))),
            std::max(0, static_cast<int>(std::floor(rect.y * s))),
            std::min(bitmap.width(), static_cast<int>(std::ceil((rect.x + rect.width) * s))),
            std::min(bitmap.height(), static_cast<int>(std::ceil((rect.y + rect.height) * s)))};
}

// The number of pixels inside `rect` (points) whose colour does not look like `background`.
inline int inkCount(const image::Bitmap& bitmap, Rect rect, Color background) {
    const double s = bitmap.scale();
    const auto [x0, y0, x1, y1] = pixelBox(bitmap, rect);
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (!looksLike(colorAt(bitmap, (x + 0.5) / s, (y + 0.5) / s), background)) {
                ++count;
            }
        }
    }
    return count;
}

// A stretch of neighbouring pixel columns inside a rectangle that hold ink, with the box of that
// ink in points: on one line of text, a glyph (or glyphs that touch).
struct InkRun {
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;

    double height() const { return bottom - top; }
};

// The runs of columns inside `rect` (points) holding pixels that look like `ink`, left to right.
inline std::vector<InkRun> inkRuns(const image::Bitmap& bitmap,
                                   Rect rect,
                                   Color ink,
                                   double tolerance = 0.3) {
    const double s = bitmap.scale();
    const auto [x0, y0, x1, y1] = pixelBox(bitmap, rect);
    std::vector<InkRun> runs;
    bool open = false;
    for (int x = x0; x < x1; ++x) {
        int top = -1;
        int bottom = -1;
        for (int y = y0; y < y1; ++y) {
            if (looksLike(colorAt(bitmap, (x + 0.5) / s, (y + 0.5) / s), ink, tolerance)) {
                top = top < 0 ? y : top;
                bottom = y + 1;
            }
        }
        if (top < 0) {
            open = false;
            continue;
        }
        if (!open) {
            runs.push_back({x / s, (x + 1) / s, top / s, bottom / s});
            open = true;
            continue;
        }
        InkRun& run = runs.back();
        run.right = (x + 1) / s;
        run.top = std::min(run.top, top / s);
        run.bottom = std::max(run.bottom, bottom / s);
    }
    return runs;
}

}  // namespace pelmar::ui::test
