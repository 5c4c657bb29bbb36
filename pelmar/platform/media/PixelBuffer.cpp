#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::media {

PixelBuffer::PixelBuffer(int width, int height, PixelFormat format)
    : width_(width),
      height_(height),
      format_(format),
      bytesPerRow_(static_cast<std::size_t>(width) * 4),
      pixels_(bytesPerRow_ * static_cast<std::size_t>(height)) {}

std::shared_ptr<PixelBuffer> PixelBuffer::create(int width, int height, PixelFormat format) {
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) {
        return nullptr;
    }
    return std::shared_ptr<PixelBuffer>(new PixelBuffer(width, height, format));
}

}  // namespace pelmar::media
