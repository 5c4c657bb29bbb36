#pragma once

#include <memory>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::image {

// BitmapRedraw: draws a bitmap into a new display-ready one: BGRA8 with premultiplied alpha (or,
// for a source known to be opaque, the same layout with every alpha byte 255 and `opaque` set),
// turned and mirrored so that a source stored in `orientation` comes out upright.
// Ownership: static functions; the result owns its pixels and never shares the source's.
// Threads: thread-safe.
// Errors: redraw() gives null only when the result cannot be made (Bitmap's size limits).
class BitmapRedraw {
public:
    BitmapRedraw() = delete;

    // Orientation of the result is Up; scale is `scale` (the source's when 0).
    static std::shared_ptr<Bitmap> redraw(const Bitmap& source,
                                          Orientation orientation,
                                          double scale = 0);

    // Width and height of a width x height source once it is turned upright.
    static bool swapsSides(Orientation orientation) {
        return static_cast<int>(orientation) >= static_cast<int>(Orientation::LeftMirrored)
               && static_cast<int>(orientation) <= static_cast<int>(Orientation::Left);
    }

    // Turns `source` (BGRA8 or RGBA8, 4 bytes per pixel) into `target`, whose sides must be the
    // source's, swapped when the orientation turns by a quarter. Formats are copied unchanged.
    static void orient(const Bitmap& source, Bitmap& target, Orientation orientation);

    // Multiplies colour by alpha in place over `count` 4-byte pixels whose alpha is byte 3.
    static void premultiply(uint8_t* pixels, std::size_t count);
};

}  // namespace pelmar::image
