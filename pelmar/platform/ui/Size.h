#pragma once

namespace pelmar::ui {

// Size: a width and a height in points (also used for offsets).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct Size {
    double width = 0;
    double height = 0;

    friend bool operator==(const Size&, const Size&) = default;
};

}  // namespace pelmar::ui
