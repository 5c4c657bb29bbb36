#pragma once

#include <algorithm>

#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

// Rect: a rectangle in points, origin at the top left. A negative width or height is kept as
// given; the helpers below read such a rectangle as its standardised (positive) form.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    static constexpr Rect of(Point origin, Size size) {
        return {origin.x, origin.y, size.width, size.height};
    }

    constexpr Point origin() const { return {x, y}; }

    constexpr Size size() const { return {width, height}; }

    constexpr double minX() const { return std::min(x, x + width); }

    constexpr double maxX() const { return std::max(x, x + width); }

    constexpr double minY() const { return std::min(y, y + height); }

    constexpr double maxY() const { return std::max(y, y + height); }

    constexpr Point center() const { return {x + width / 2, y + height / 2}; }

    constexpr bool isEmpty() const { return width == 0 || height == 0; }

    // Half-open: the top and left edges are inside, the bottom and right edges are not.
    constexpr bool contains(Point p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }

    constexpr bool intersects(const Rect& other) const {
        return minX() < other.maxX() && other.minX() < maxX() && minY() < other.maxY()
               && other.minY() < maxY();
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace pelmar::ui
