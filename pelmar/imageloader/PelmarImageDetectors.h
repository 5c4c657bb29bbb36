#pragma once

#include <string_view>

namespace pelmar {

// Byte-level detectors of image data, without a full parse.
// Threads: thread-safe. Errors: none; data too short to tell answers false.

// At least 3 bytes, starting "GIF".
bool pelmar_isGIF(std::string_view data);

// A GIF in which a second graphic control extension (0x21 0xF9) is reached: the scan skips each
// extension's sub-blocks and the image data after it, and any read at or past the end answers
// false.
bool pelmar_isAnimatedGIF(std::string_view data);

}  // namespace pelmar
