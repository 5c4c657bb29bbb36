#pragma once

#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

// EdgeInsets: distances in points from the four edges of a rectangle (safe areas, content insets).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none; negative insets grow the rectangle.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    constexpr Rect inset(const Rect& r) const {
        return {r.x + left, r.y + top, r.width - left - right, r.height - top - bottom};
    }

    friend constexpr EdgeInsets operator+(const EdgeInsets& a, const EdgeInsets& b) {
        return {a.top + b.top, a.left + b.left, a.bottom + b.bottom, a.right + b.right};
    }

    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

}  // namespace pelmar::ui
