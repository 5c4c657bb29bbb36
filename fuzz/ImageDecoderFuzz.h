// Shared body of the image decoder fuzz targets: data the decoder accepts must give a bitmap whose
// size is the header's (turned by the orientation) and within the cap; everything else must give
// an error and no bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/ImageDecoder.h"

namespace pelmar::image::fuzz {

// Small enough that millions of runs stay fast, large enough for every seed.
inline constexpr int64_t kFuzzMaxPixels = 1 << 16;

inline int decodeAs(ImageFormat format, const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (ImageDecoder::sniff(bytes) != format) {
        return -1;  // keep the corpus to this target's format
    }
    const auto header = ImageDecoder::readHeader(bytes);
    const auto result = ImageDecoder::decode(bytes, {.maxPixels = kFuzzMaxPixels});
    if (!result.bitmap) {
        if (!result.error) {
            std::abort();
        }
        return 0;
    }
    if (!header || result.error) {
        std::abort();
    }
    const Bitmap& bitmap = *result.bitmap;
    const auto orientation = header->exifOrientation >= 1 && header->exifOrientation <= 8
                                     ? static_cast<Orientation>(header->exifOrientation)
                                     : Orientation::Up;
    const bool swap = BitmapRedraw::swapsSides(orientation);
    if (bitmap.width() != (swap ? header->height : header->width)
        || bitmap.height() != (swap ? header->width : header->height)
        || static_cast<int64_t>(bitmap.width()) * bitmap.height() > kFuzzMaxPixels
        || bitmap.orientation() != Orientation::Up) {
        std::abort();
    }
    // Every byte of the bitmap must be readable (and initialised, under MSan-like checks).
    unsigned sum = 0;
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint8_t* row = bitmap.row(y);
        for (size_t i = 0; i < static_cast<size_t>(bitmap.width()) * 4; ++i) {
            sum += row[i];
        }
    }
    return static_cast<int>(sum & 0);
}

}  // namespace pelmar::image::fuzz
