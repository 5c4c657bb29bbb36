#pragma once

#include <memory>
#include <string>

#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::av::test {

// Where a code goes in a picture: its left and top edge and its side, in pixels.
struct CodePlacement {
    int left = 0;
    int top = 0;
    int side = 0;
};

// CodeImage: camera-like pictures showing codes made with zxing-cpp's writer (test support).
// Ownership: static functions returning new buffers.
// Threads: thread-safe.
// Errors: a code that does not fit the picture is clipped.
struct CodeImage {
    // A white `width` x `height` BGRA picture with a QR code of `text` at `where`; a side of 0
    // centres a code of half the picture's shorter side.
    static std::shared_ptr<media::PixelBuffer> qrCode(const std::string& text,
                                                      int width,
                                                      int height,
                                                      CodePlacement where = {});

    // As qrCode(), with an EAN-13 bar code of `digits` (12 or 13 digits) `where`.
    static std::shared_ptr<media::PixelBuffer> ean13(const std::string& digits,
                                                     int width,
                                                     int height,
                                                     CodePlacement where);

    // Draws a QR code of `text` into `picture` at `where`.
    static void drawQrCode(media::PixelBuffer& picture,
                           const std::string& text,
                           CodePlacement where);
};

}  // namespace pelmar::av::test
