#pragma once

#include "pelmar/platform/ui/ContentMode.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar {

// ImageViewLayout: where an image of a given size sits inside a container for each content
// mode. Pure arithmetic, no rounding, no clipping (origins may be negative). A zero-sized image or
// container under the aspect modes gives a zero-sized frame at the container's centre, never NaN.
// Ownership: static function only.
// Threads: thread-safe.
// Errors: none; unknown modes give the image's own size at the origin.
struct ImageViewLayout {
    static ui::Rect frameForImage(ui::Size imageSize,
                                  ui::Rect previousFrame,
                                  ui::Size containerSize,
                                  ui::ContentMode contentMode);
};

}  // namespace pelmar
