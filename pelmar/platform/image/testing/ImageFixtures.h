#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::image::test {

// Test pictures made in memory, so that decoder tests, fuzz seeds and benchmarks share one source.
// Colours are BGRA byte quadruples.
using Colour = std::array<uint8_t, 4>;

// A width x height opaque BGRA bitmap of four solid quadrants: top-left, top-right, bottom-left,
// bottom-right.
std::shared_ptr<Bitmap> quadrants(int width,
                                  int height,
                                  const Colour& topLeft,
                                  const Colour& topRight,
                                  const Colour& bottomLeft,
                                  const Colour& bottomRight);

// A smooth, detailed opaque picture (gradients and rings) that compresses like a photograph.
std::shared_ptr<Bitmap> photo(int width, int height, uint32_t seed = 1);

// JPEG bytes of an opaque bitmap (quality 0..100); progressive when asked.
std::string jpeg(const Bitmap& bitmap, int quality = 90, bool progressive = false);

// `jpeg` with an EXIF APP1 segment carrying `orientation` inserted after SOI; `bigEndian` picks
// the "MM" byte order.
std::string withExifOrientation(const std::string& jpeg, int orientation, bool bigEndian = false);

// PNG bytes (RGBA with straight alpha when the bitmap is not opaque, else RGB) of a BGRA bitmap
// whose colours are premultiplied.
std::string png(const Bitmap& bitmap);

// A PNG whose IHDR claims width x height (CRC fixed), its pixel data left as it was.
std::string pngClaimingSize(const std::string& png, uint32_t width, uint32_t height);

// A JPEG whose frame header claims width x height.
std::string jpegClaimingSize(const std::string& jpeg, uint16_t width, uint16_t height);

// One GIF frame: indexes into a global palette of `palette.size()` colours (2, 4, ..., 256).
struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indexes;  // width x height
    int transparentIndex = -1;
    bool interlaced = false;
};

// A GIF of the given logical screen size and frames (giflib's encoder). Palette colours are RGB.
std::string gif(int screenWidth,
                int screenHeight,
                const std::vector<std::array<uint8_t, 3>>& palette,
                const std::vector<GifFrame>& frames);

}  // namespace pelmar::image::test
