#pragma once

#include <cmath>

#include "pelmar/platform/ui/Point.h"

namespace pelmar::ui {

// AffineTransform: a 2-D affine map x' = a*x + c*y + tx, y' = b*x + d*y + ty. Views apply it
// around their centre.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: inverted() of a singular transform gives the identity.
struct AffineTransform {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    static constexpr AffineTransform identity() { return {}; }

    static constexpr AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

    static constexpr AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

    // Radians; positive turns clockwise on screen (y grows downwards).
    static AffineTransform rotation(double radians) {
        const double cos = std::cos(radians);
        const double sin = std::sin(radians);
        return {cos, sin, -sin, cos, 0, 0};
    }

    constexpr bool isIdentity() const { return *this == identity(); }

    constexpr Point apply(Point p) const {
        return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
    }

    // This transform followed by `then`.
    constexpr AffineTransform concatenating(const AffineTransform& then) const {
        return {a * then.a + b * then.c,
                a * then.b + b * then.d,
                c * then.a + d * then.c,
                c * then.b + d * then.d,
                tx * then.a + ty * then.c + then.tx,
                tx * then.b + ty * then.d + then.ty};
    }

    constexpr AffineTransform inverted() const {
        const double det = a * d - b * c;
        if (det == 0) {
            return identity();
        }
        return {d / det,
                -b / det,
                -c / det,
                a / det,
                (c * ty - d * tx) / det,
                (b * tx - a * ty) / det};
    }

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

}  // namespace pelmar::ui
