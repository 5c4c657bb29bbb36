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
    if (!scaleInto(*scaler, frame.data, frame.linesize, frame.height, *bitmap)) {
        return nullptr;
    }
    return bitmap;
}

bool scaleInto(SwsContext& scaler,
               const uint8_t* const planes[],
               const int strides[],
               int sourceHeight,
               Bitmap& target) {
    const std::size_t size = target.byteCount();
    std::vector<uint8_t> padded(size + 256);
    uint8_t* dstPlanes[4] = {padded.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {static_cast<int>(target.stride()), 0, 0, 0};
    const int rows = sws_scale(&scaler, planes, strides, 0, sourceHeight, dstPlanes, dstStrides);
    if (rows != target.height()) {
        return false;
    }
    std::copy_n(padded.data(), size, target.data());
    return true;
}

}  // namespace pelmar::image
