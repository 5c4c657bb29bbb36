#pragma once

// PictureCodec: JPEG and PNG bytes to RGBA images and RGBA images to JPEG, over libavcodec.
// Ownership: static functions; decoded images own their pixels (RGBA, rows packed).
// Threads: thread-safe.
// Errors: decode() gives null for bytes that are not a JPEG or PNG picture it can decode;
//     encodeJPEG() gives a kImageErrorDomain error for an image whose pixels it cannot read
//     (only file-backed pictures and RGBA images made by this folder can be encoded).
// Limits: pictures larger than ImageGenerator::kMaxPixels are refused.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::picture {

class PictureCodec {
public:
    PictureCodec() = delete;

    static std::shared_ptr<const ui::Image> decode(std::string_view bytes);

    // An RGBA image (width x height, rows packed) that owns `rgba`; null unless both sides are
    // positive and `rgba` holds exactly width x height x 4 bytes.
    static std::shared_ptr<const ui::Image> makeRGBA(int width, int height, std::string rgba);

    // `quality` from 0 (smallest) to 1 (best). A file-backed JPEG is returned as it is stored.
    static std::pair<std::optional<std::string>, std::optional<Error>> encodeJPEG(
            const ui::Image& image, double quality);
};

}  // namespace pelmar::picture
