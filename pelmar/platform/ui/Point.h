#pragma once

namespace pelmar::ui {

// Point: a position in points, origin at the top left.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct Point {
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

}  // namespace pelmar::ui
