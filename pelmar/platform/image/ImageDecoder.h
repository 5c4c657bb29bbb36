#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::image {

inline constexpr std::string_view kImageDecodeErrorDomain = "pelmar.image.decode";

enum ImageDecodeErrorCode : long {
    kImageDecodeErrorNotAnImage = 1,  // not JPEG, PNG or GIF data, or no readable header
    kImageDecodeErrorTooLarge = 2,    // the header claims more pixels than allowed
    kImageDecodeErrorCorrupt = 3,     // the header was fine, the pixels could not be read
};

enum class ImageFormat : uint8_t { Unknown, JPEG, PNG, GIF };

// What an image's header says, read without decoding any pixel.
struct ImageHeader {
    ImageFormat format = ImageFormat::Unknown;
    int width = 0;   // as stored, before orientation
    int height = 0;  // as stored
    bool hasAlpha = false;
    // From EXIF (JPEG APP1, PNG eXIf); 0 when there is none. Kept as stored: values outside 1-8
    // are possible and mean Up.
    int exifOrientation = 0;
    bool progressive = false;  // JPEG with a progressive frame (SOF2, SOF6, SOF10, SOF14)
    bool interlaced = false;   // PNG with Adam7 interlacing
};

struct ImageDecodeOptions {
    // Refuses images whose stored width x height is above this (and above Bitmap::kMaxPixels).
    int64_t maxPixels = Bitmap::kMaxPixels;
    // Turns the pixels upright by the EXIF orientation; otherwise the bitmap keeps the stored
    // pixels and carries the orientation.
    bool applyOrientation = true;
    // JPEG: decodes at the smallest libjpeg-turbo scale (1/8 .. 1) whose longer side is still
    // at least this many pixels. PNG (not interlaced): decodes row by row into a picture reduced
    // by the largest whole factor that keeps the longer side at least this many pixels, each
    // pixel the average of its box (premultiplied), never holding the full-size pixels. GIF:
    // ignored. 0 decodes at full size.
    int minimumDimension = 0;
};

// ImageDecoder: JPEG (libjpeg-turbo), PNG (libpng) and the first frame of a GIF (giflib) into a
// display-ready bitmap: BGRA8 with premultiplied alpha, or with every alpha byte 255 and `opaque`
// set when the image has no alpha channel. GIF frame 0 is placed on its logical screen, clipped
// to it; the rest of the screen is transparent.
// Ownership: static functions over borrowed bytes; the bitmap owns its pixels.
// Threads: thread-safe.
// Errors: decode() answers an error of kImageDecodeErrorDomain and no bitmap. A truncated JPEG
//     decodes as far as its data go (the rest is grey), like a partly loaded picture.
// Limits: the size claimed by the header is checked against maxPixels (and Bitmap's limits)
//     before any pixel memory is taken; a GIF frame larger than maxPixels is refused even when it
//     lies outside the screen; libpng's ancillary chunks are capped at kMaxChunkBytes; progressive
//     JPEGs may have at most 500 scans.
class ImageDecoder {
public:
    static constexpr std::size_t kMaxChunkBytes = 8 * 1024 * 1024;

    struct Result {
        std::shared_ptr<Bitmap> bitmap;
        std::optional<Error> error;
    };

    ImageDecoder() = delete;

    static ImageFormat sniff(std::string_view data);

    // The header, or nothing when the data is not an image this decoder reads.
    static std::optional<ImageHeader> readHeader(std::string_view data);

    static Result decode(std::string_view data, const ImageDecodeOptions& options = {});
};

}  // namespace pelmar::image
