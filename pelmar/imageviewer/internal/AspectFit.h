#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

#include "pelmar/platform/ui/Rect.h"

namespace pelmar::imageviewer::internal {

// A picture of `width` x `height` points fitted whole into `bounds` (origin at 0, 0), centred,
// with the scale ratio taken in single precision; none when any value is not a number (no
// picture, empty bounds).
inline std::optional<ui::Rect> aspectFitRect(double width, double height, ui::Rect bounds) {
    const float ratio = std::max(static_cast<float>(width / bounds.width),
                                 static_cast<float>(height / bounds.height));
    const double fittedWidth = width / ratio;
    const double fittedHeight = height / ratio;
    const ui::Rect fitted{(bounds.width - fittedWidth) / 2, (bounds.height - fittedHeight) / 2,
                          fittedWidth, fittedHeight};
    if (std::isnan(ratio) || !std::isfinite(fitted.x) || !std::isfinite(fitted.y)
        || !std::isfinite(fittedWidth) || !std::isfinite(fittedHeight)) {
        return std::nullopt;
    }
    return fitted;
}

}  // namespace pelmar::imageviewer::internal
