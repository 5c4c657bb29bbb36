#pragma once

#include <optional>
#include <string>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::image {

// ImageEncoder: a bitmap to JPEG (libjpeg-turbo) or PNG (libpng) bytes. The bitmap is first turned
// upright by its orientation, so the file needs no EXIF orientation. JPEG drops alpha (colour over
// black); PNG keeps it, stored unpremultiplied as the format requires.
// Ownership: static functions; the bytes returned are the caller's.
// Threads: thread-safe.
// Errors: nothing when the bitmap cannot be encoded (an encoder failure).
class ImageEncoder {
public:
    ImageEncoder() = delete;

    // `quality` from 0 (smallest) to 1 (best), clamped.
    static std::optional<std::string> encodeJPEG(const Bitmap& bitmap, double quality);

    static std::optional<std::string> encodePNG(const Bitmap& bitmap);
};

}  // namespace pelmar::image
