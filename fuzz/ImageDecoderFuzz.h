// Shared body of the image decoder fuzz targets: data the decoder accepts must give a bitmap whose
// size is the header's (turned by the orientation) and within the cap; everything else must give
// an error and no bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/ImageDecoder.h"

namespace pelmar::image::fuzz {

// Small enough that millions of runs stay fast, large enough for every seed.
inline constexpr int64_t kFuzzMaxPixels = 1 << 16;

// Aborts unless `bitmap` is `width` x `height` as stored (sides swapped by the header's
// orientation), upright and within the cap; reads every byte (for MSan-like checks).
inline int expectUpright(const Bitmap& bitmap, const ImageHeader& header, int width, int height) {
    const auto orientation = header.exifOrientation >= 1 && header.exifOrientation <= 8
                                     ? static_cast<Orientation>(header.exifOrientation)
                                     : Orientation::Up;
    const bool swap = BitmapRedraw::swapsSides(orientation);
    if (bitmap.width() != (swap ? height : width) || bitmap.height() != (swap ? width : height)
        || static_cast<int64_t>(bitmap.width()) * bitmap.height() > kFuzzMaxPixels
        || bitmap.orientation() != Orientation::Up) {
        std::abort();
    }
    unsigned sum = 0;
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint8_t* row = bitmap.row(y);
        for (size_t i = 0; i < static_cast<size_t>(bitmap.width()) * 4; ++i) {
            sum += row[i];
        }
    }
    return static_cast<int>(sum & 0);
}

// Decodes `bytes` with `options`: a bitmap must come with a header and no error and be of the
// stored size `sizeOf(header)` gives (a std::pair of width and height); no bitmap needs an error.
template <typename SizeOf>
int decodeChecked(std::string_view bytes, const ImageDecodeOptions& options, SizeOf sizeOf) {
    const auto header = ImageDecoder::readHeader(bytes);
    const auto result = ImageDecoder::decode(bytes, options);
    if (!result.bitmap) {
        if (!result.error) {
            std::abort();
        }
        return 0;
    }
    if (!header || result.error) {
        std::abort();
    }
    const auto [width, height] = sizeOf(*header);
    return expectUpright(*result.bitmap, *header, width, height);
}

inline int decodeAs(ImageFormat format, const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (ImageDecoder::sniff(bytes) != format) {
        return -1;  // keep the corpus to this target's format
    }
    return decodeChecked(bytes, {.maxPixels = kFuzzMaxPixels}, [](const ImageHeader& header) {
        return std::pair{header.width, header.height};
    });
}

}  // namespace pelmar::image::fuzz
