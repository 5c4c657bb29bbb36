#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/image/testing/ImageFixtures.h"

namespace pelmar::image::test {

// One frame of an animated fixture GIF: its picture and its graphic control extension.
struct AnimatedGifFrame {
    GifFrame frame;
    // Delay in hundredths of a second; none writes no graphic control extension at all.
    std::optional<int> delayCentiseconds = 10;
    // 0 unspecified, 1 keep, 2 clear to background, 3 restore the previous picture.
    int disposal = 0;
};

// An animated GIF over a global palette (RGB colours), with a NETSCAPE2.0 loop count when one is
// given (0 = endless), made with giflib's encoder.
std::string animatedGif(int screenWidth,
                        int screenHeight,
                        const std::vector<std::array<uint8_t, 3>>& palette,
                        const std::vector<AnimatedGifFrame>& frames,
                        std::optional<int> loopCount = 0);

// `count` full-screen frames of `width` x `height`, each a different pattern of a 256-colour
// palette, `delayCentiseconds` each: what benchmarks and cache tests play.
std::string patternGif(int width, int height, int count, int delayCentiseconds = 10);

// A 6 x 4 GIF of five frames over the palette red, green, blue, white, black that uses every
// disposal: 0 a red screen (keep); 1 a green 2 x 2 at (1, 1) with its bottom-right pixel
// transparent (clear to background); 2 a blue 3 x 3 at (2, 0) with its bottom-right pixel
// transparent (restore previous); 3 a black 2 x 2 at (0, 2) (unspecified); 4 a green 2 x 2 at
// (4, 2) (unspecified). Index 3 (white) is the transparent colour of frames 1 and 2.
std::string disposalGif();

}  // namespace pelmar::image::test
