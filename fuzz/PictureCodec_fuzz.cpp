// Fuzz target: picture bytes as a web page or a picked file hands them to the picture decoder
// (JPEG, PNG, GIF). A decoded bitmap must respect Bitmap's caps and be readable to its last byte.
#include "pelmar/platform/image/PictureCodec.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

// The decoders' complaints about broken pictures are expected here and would slow the run down.
[[maybe_unused]] const bool kQuiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pelmar::image::Bitmap;
    using pelmar::image::PictureCodec;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto bitmap = PictureCodec::decode(bytes);
    if (!bitmap) {
        return 0;
    }
    if (!PictureCodec::hasPictureSignature(bytes) || bitmap->width() < 1 || bitmap->height() < 1
        || bitmap->width() > Bitmap::kMaxDimension || bitmap->height() > Bitmap::kMaxDimension
        || static_cast<int64_t>(bitmap->width()) * bitmap->height() > Bitmap::kMaxPixels
        || bitmap->stride() < static_cast<size_t>(bitmap->width()) * 4) {
        __builtin_trap();
    }
    // Touches every byte, so that AddressSanitizer sees a buffer shorter than it claims.
    const uint8_t* pixels = bitmap->data();
    uint8_t sum = 0;
    for (size_t i = 0; i < bitmap->byteCount(); ++i) {
        sum = static_cast<uint8_t>(sum + pixels[i]);
    }
    volatile uint8_t sink = sum;
    (void)sink;
    return 0;
}
