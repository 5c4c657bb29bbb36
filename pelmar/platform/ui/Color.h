#pragma once

namespace pelmar::ui {

// Color: an sRGB colour with alpha, each component in [0, 1].
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none; components are stored as given.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr Color black() { return {0, 0, 0, 1}; }

    static constexpr Color white() { return {1, 1, 1, 1}; }

    static constexpr Color clear() { return {0, 0, 0, 0}; }

    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace pelmar::ui
