#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <memory>

#include "pelmar/platform/image/Bitmap.h"

// LibavFrames: the conversion of a decoded FFmpeg frame to an RGBA Bitmap, for the SDK's libraries
// that decode pictures with FFmpeg (codecs here, the movie frame grabber in av). Including it needs
// FFmpeg's headers.
// Ownership: the bitmap owns its pixels; the frame stays the caller's.
// Threads: thread-compatible.
// Errors: toBitmap() gives null when the size is outside Bitmap's caps or the conversion cannot be
//     set up.

namespace pelmar::image {

// `frame` scaled to width x height as packed RGBA with straight (not premultiplied) alpha.
std::shared_ptr<Bitmap> toBitmap(const AVFrame& frame, int width, int height);

}  // namespace pelmar::image
