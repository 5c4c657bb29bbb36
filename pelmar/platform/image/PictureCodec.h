#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"

// PictureCodec: JPEG, PNG and GIF (first frame) bytes to RGBA bitmaps, and bitmaps to JPEG, over
// libavcodec.
// Ownership: static functions; decoded bitmaps own their pixels (RGBA, straight alpha, rows
//     packed), turned upright by the picture's EXIF orientation (JPEG APP1, PNG eXIf).
// Threads: thread-safe.
// Errors: decode() gives null for bytes that are not a picture it can decode; encodeJPEG() gives a
//     kImageErrorDomain error (kImageErrorEncode) when the encoder fails.
// Limits: pictures larger than Bitmap::kMaxPixels or Bitmap::kMaxDimension a side are refused.

namespace pelmar::image {

inline constexpr std::string_view kImageErrorDomain = "pelmar.image";

enum ImageErrorCode : long {
    kImageErrorOpen = 1,
    kImageErrorNoVideo = 2,
    kImageErrorDecode = 3,
    kImageErrorEncode = 4,
};

class PictureCodec {
public:
    PictureCodec() = delete;

    // True when `bytes` start with the signature of a JPEG, PNG or GIF picture.
    static bool hasPictureSignature(std::string_view bytes);

    static std::shared_ptr<Bitmap> decode(std::string_view bytes);

    // `quality` from 0 (smallest) to 1 (best). Alpha is dropped.
    static std::pair<std::optional<std::string>, std::optional<Error>> encodeJPEG(
            const Bitmap& bitmap, double quality);
};

}  // namespace pelmar::image
