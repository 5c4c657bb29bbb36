#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar {

// PelmarDecodedImage: turns downloaded image data into display-ready bitmaps: forced decoding
// with the EXIF orientation baked into the pixels, a redraw into the loader's bitmap layout
// (premultiplied BGRA, or BGRA with every alpha byte 255 for opaque images), the EXIF-to-image
// orientation mapping and JPEG and PNG encoding.
// Ownership: static functions; every bitmap returned owns its pixels (or is the one given).
// Threads: thread-safe; no state is kept.
// Errors: null (or nothing) for data that is not an image, images above the pixel cap and
//     encoder failures.
// Limits: images of more than kDefaultMaxPixels pixels (or Bitmap::kMaxPixels) are refused from
//     their header, before any pixel memory is taken.
class PelmarDecodedImage {
public:
    static constexpr int64_t kDefaultMaxPixels = image::Bitmap::kMaxPixels;

    PelmarDecodedImage() = delete;

    // decodedImageWithData(data, false).
    static std::shared_ptr<image::Bitmap> decodedImageWithData(std::string_view data);

    // With `skipDecodeIfPossible` the bitmap keeps the stored pixels and carries the EXIF
    // orientation; otherwise the pixels are turned upright (orientation Up). Scale 1.
    static std::shared_ptr<image::Bitmap> decodedImageWithData(
            std::string_view data,
            bool skipDecodeIfPossible,
            int64_t maxPixels = kDefaultMaxPixels);

    // A redraw of `image` turned upright from `orientation`, at `scale`; orientation Up.
    static std::shared_ptr<image::Bitmap> decodedImageWithBitmap(
            const image::Bitmap& image,
            image::Orientation orientation = image::Orientation::Up,
            double scale = 1.0);

    // A redraw of `image` at its pixel size in the loader's layout; the pixels keep their
    // stored orientation. When no bitmap can be made, `image` itself.
    static std::shared_ptr<image::Bitmap> decodedImageRefWithBitmap(
            const std::shared_ptr<image::Bitmap>& image);

    // Image orientation (up 0, down 1, left 2, right 3, up-mirrored 4, down-mirrored 5,
    // left-mirrored 6, right-mirrored 7) of an EXIF orientation value; 0 outside 2-8.
    static int imageOrientationFromExif(int exifOrientation);

    // imageOrientationFromExif of the EXIF orientation in `data`'s header (0 when unreadable).
    static int imageOrientationFromImageSource(std::string_view data);

    // `quality` from 0 to 1.
    static std::optional<std::string> JPEGRepresentation(const image::Bitmap& image,
                                                         double quality);

    static std::optional<std::string> PNGRepresentation(const image::Bitmap& image);
};

// The scale an image's cache key asks for: 1, or 2 for a key of at least 8 characters holding
// "@2x." or "_2x.", or 3 when it holds "@3x." or "_3x." (3 wins over 2). `image` itself when it
// already has that scale, otherwise a bitmap sharing its pixels at that scale. Null for null.
std::shared_ptr<image::Bitmap> PelmarScaledImageForKey(std::string_view key,
                                                       const std::shared_ptr<image::Bitmap>& image);

}  // namespace pelmar
