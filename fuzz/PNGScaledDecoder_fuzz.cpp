// PNG data decoded at a reduced size: the first byte is the smallest longer side asked for, the
// rest the PNG. A picture the decoder accepts must come out reduced by the whole factor that keeps
// the longer side at least that long (full size when interlaced), turned upright, with every byte
// readable; everything else must give an error and no bitmap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "ImageDecoderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelmar::image;
    using fuzz::kFuzzMaxPixels;
    if (size < 2) {
        return -1;
    }
    const int minimum = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (ImageDecoder::sniff(bytes) != ImageFormat::PNG) {
        return -1;
    }
    ImageDecodeOptions options;
    options.maxPixels = kFuzzMaxPixels;
    options.minimumDimension = minimum;
    return fuzz::decodeChecked(bytes, options, [minimum](const ImageHeader& header) {
        int width = header.width;
        int height = header.height;
        if (minimum > 0 && !header.interlaced) {
            const int factor = std::clamp(std::max(width, height) / minimum, 1, 1024);
            width = (width + factor - 1) / factor;
            height = (height + factor - 1) / factor;
        }
        return std::pair{width, height};
    });
}
