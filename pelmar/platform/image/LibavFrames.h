#pragma once

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

#include <memory>

#include "pelmar/platform/image/Bitmap.h"

// LibavFrames: the conversion of a decoded FFmpeg frame to an RGBA Bitmap, for the SDK's libraries
// that decode pictures with FFmpeg (codecs here, the movie frame grabber in av). Including it needs
// FFmpeg's headers.
// Ownership: the bitmap owns its pixels; the frame stays the caller's.
// Threads: thread-compatible.
// Errors: toBitmap() gives null when the size is outside Bitmap's caps or the conversion cannot be
//     set up; scaleInto() gives false when swscale makes fewer rows than the target holds.

namespace pelmar::image {

// `frame` scaled to width x height as packed RGBA with straight (not premultiplied) alpha.
std::shared_ptr<Bitmap> toBitmap(const AVFrame& frame, int width, int height);

// Runs `scaler` (set up for the source's size and format and for the target's) over the source
// planes into `target`. swscale's vector code may write a little past the last row, so it writes
// into a padded buffer that is then copied into the bitmap's packed pixels.
bool scaleInto(SwsContext& scaler,
               const uint8_t* const planes[],
               const int strides[],
               int sourceHeight,
               Bitmap& target);

}  // namespace pelmar::image
