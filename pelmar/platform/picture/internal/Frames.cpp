#include "pelmar/platform/picture/internal/Frames.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace pelmar::picture::internal {

std::optional<std::string> toRGBA(const AVFrame& frame, int width, int height) {
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    SwsContext* scaler =
            sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                           width, height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
        return std::nullopt;
    }
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    // swscale's vector code may write a little past the last row.
    std::string rgba(size + 256, '\0');
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(rgba.data()), nullptr, nullptr, nullptr};
    int strides[4] = {width * 4, 0, 0, 0};
    const int rows =
            sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides);
    sws_freeContext(scaler);
    if (rows != height) {
        return std::nullopt;
    }
    rgba.resize(size);
    return rgba;
}

}  // namespace pelmar::picture::internal
