#pragma once

#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

// ContentMode: how a view places content whose size differs from its bounds (an image, a
// drawing); placeContent() works the place out. The raw values are the system's own.
// Ownership: a value type and a pure function.
// Threads: thread-safe.
// Errors: none; content without area fills the bounds.
enum class ContentMode : int {
    ScaleToFill = 0,
    ScaleAspectFit = 1,
    ScaleAspectFill = 2,
    Redraw = 3,
    Center = 4,
    Top = 5,
    Bottom = 6,
    Left = 7,
    Right = 8,
    TopLeft = 9,
    TopRight = 10,
    BottomLeft = 11,
    BottomRight = 12,
};

// Where content of `size` points goes in `bounds` under `mode`: stretched (ScaleToFill, Redraw),
// scaled to fit inside or to cover with its aspect kept and centred, or at its own size centred
// or against the named edges. Empty content fills the bounds.
constexpr Rect placeContent(ContentMode mode, Rect bounds, Size size) {
    if (size.width <= 0 || size.height <= 0) {
        return bounds;
    }
    const double fitX = bounds.width / size.width;
    const double fitY = bounds.height / size.height;
    double w = size.width;
    double h = size.height;
    switch (mode) {
        case ContentMode::ScaleToFill:
        case ContentMode::Redraw:
            return bounds;
        case ContentMode::ScaleAspectFit:
        case ContentMode::ScaleAspectFill: {
            const bool fit = mode == ContentMode::ScaleAspectFit;
            const double scale = fit == (fitX < fitY) ? fitX : fitY;
            w = size.width * scale;
            h = size.height * scale;
            break;
        }
        default:
            break;
    }
    const double left = bounds.x;
    const double right = bounds.x + bounds.width - w;
    const double midX = bounds.x + (bounds.width - w) / 2;
    const double top = bounds.y;
    const double bottom = bounds.y + bounds.height - h;
    const double midY = bounds.y + (bounds.height - h) / 2;
    switch (mode) {
        case ContentMode::Top:
            return {midX, top, w, h};
        case ContentMode::Bottom:
            return {midX, bottom, w, h};
        case ContentMode::Left:
            return {left, midY, w, h};
        case ContentMode::Right:
            return {right, midY, w, h};
        case ContentMode::TopLeft:
            return {left, top, w, h};
        case ContentMode::TopRight:
            return {right, top, w, h};
        case ContentMode::BottomLeft:
            return {left, bottom, w, h};
        case ContentMode::BottomRight:
            return {right, bottom, w, h};
        default:
            return {midX, midY, w, h};
    }
}

}  // namespace pelmar::ui
