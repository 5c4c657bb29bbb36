#pragma once

namespace pelmar::ui {

// Rect: a rectangle in points, origin at the top left.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace pelmar::ui
