#pragma once

namespace pelmar::ui {

// How a view places content whose size differs from its bounds (an image, a drawing). The raw
// values are the system's own.
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

}  // namespace pelmar::ui
