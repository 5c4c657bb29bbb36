#include "pelmar/platform/image/LibavFrames.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <vector>

#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::image {

std::shared_ptr<Bitmap> toBitmap(const AVFrame& frame, int width, int height) {
    auto bitmap =
            Bitmap::create(width, height, {.format = PixelFormat::RGBA8, .premultiplied = false});
    if (!bitmap) {
        return nullptr;
    }
    const libav::ScalerPtr scaler(sws_getContext(
            frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width, height,
            AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) {
        return nullptr;
    }
    // swscale's vector code may write a little past the last row, so it writes into a padded
    // buffer that is then copied into the bitmap.
    const std::size_t size = bitmap->byteCount();
    std::vector<uint8_t> padded(size + 256);
    uint8_t* planes[4] = {padded.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(bitmap->stride()), 0, 0, 0};
    const int rows =
            sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rows != height) {
        return nullptr;
    }
    std::copy_n(padded.data(), size, bitmap->data());
    return bitmap;
}

}  // namespace pelmar::image
