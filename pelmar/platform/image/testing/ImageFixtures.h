#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
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

// A PNG with an eXIf chunk carrying `orientation` inserted after IHDR.
std::string pngWithExifOrientation(const std::string& png, int orientation, bool bigEndian = false);

// The colours of an upright quadrant picture (quadrants() in this order: top-left, top-right,
// bottom-left, bottom-right).
inline constexpr Colour kRed{0, 0, 255, 255};
inline constexpr Colour kGreen{0, 255, 0, 255};
inline constexpr Colour kBlue{255, 0, 0, 255};
inline constexpr Colour kWhite{255, 255, 255, 255};
inline constexpr std::array<Colour, 4> kUprightQuadrants{kRed, kGreen, kBlue, kWhite};

// One EXIF orientation and the quadrants as a camera stores the upright picture in it.
struct StoredOrientation {
    const char* name;
    int exif;
    bool swapsSides;
    std::array<Colour, 4> stored;
};

// Prints the orientation's name in test output.
inline void PrintTo(const StoredOrientation& orientation, std::ostream* out) {
    *out << orientation.name;
}

// The eight EXIF orientations, 1 to 8.
extern const std::array<StoredOrientation, 8> kStoredOrientations;

// The bitmap a camera stores, in `orientation`, for an upright uprightWidth x uprightHeight
// picture of kUprightQuadrants.
std::shared_ptr<Bitmap> storedQuadrants(const StoredOrientation& orientation,
                                        int uprightWidth,
                                        int uprightHeight);

// Empty when the middle of each quadrant of `bitmap` (BGRA8 or RGBA8) is within `tolerance` per
// channel of `expected` (BGRA quadruples); otherwise what differs.
std::string quadrantMismatch(const Bitmap& bitmap,
                             const std::array<Colour, 4>& expected,
                             int tolerance = 40);

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
