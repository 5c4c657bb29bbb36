#include "pelmar/platform/image/Bitmap.h"

#include <cmath>
#include <utility>

#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::image {
namespace {

bool validSize(int width, int height) {
    return width >= 1 && height >= 1 && width <= Bitmap::kMaxDimension
           && height <= Bitmap::kMaxDimension
           && static_cast<int64_t>(width) * height <= Bitmap::kMaxPixels;
}

bool turnsByAQuarter(Orientation orientation) {
    return static_cast<int>(orientation) >= static_cast<int>(Orientation::LeftMirrored);
}

}  // namespace

int bytesPerPixel(PixelFormat format) {
    return format == PixelFormat::Gray8 ? 1 : 4;
}

Bitmap::Bitmap(int width, int height, std::size_t stride, Layout layout)
    : width_(width), height_(height), stride_(stride), layout_(layout) {}

std::shared_ptr<Bitmap> Bitmap::create(int width, int height, Layout layout) {
    if (!validSize(width, height) || !(layout.scale > 0) || !std::isfinite(layout.scale)) {
        return nullptr;
    }
    const auto stride = static_cast<std::size_t>(width) * bytesPerPixel(layout.format);
    std::shared_ptr<Bitmap> bitmap(new Bitmap(width, height, stride, layout));
    bitmap->owned_ = std::make_unique<uint8_t[]>(stride * static_cast<std::size_t>(height));
    bitmap->data_ = bitmap->owned_.get();
    return bitmap;
}

std::shared_ptr<Bitmap> Bitmap::wrap(int width,
                                     int height,
                                     std::size_t stride,
                                     Layout layout,
                                     uint8_t* pixels,
                                     std::shared_ptr<const void> owner) {
    if (!validSize(width, height) || pixels == nullptr || !(layout.scale > 0)
        || !std::isfinite(layout.scale)
        || stride < static_cast<std::size_t>(width) * bytesPerPixel(layout.format)) {
        return nullptr;
    }
    std::shared_ptr<Bitmap> bitmap(new Bitmap(width, height, stride, layout));
    bitmap->data_ = pixels;
    bitmap->owner_ = std::move(owner);
    return bitmap;
}

std::shared_ptr<Bitmap> Bitmap::wrap(std::shared_ptr<media::PixelBuffer> buffer) {
    if (!buffer || buffer->format() != media::PixelFormat::BGRA32) {
        return nullptr;
    }
    // Read before the buffer is moved into the owner argument.
    uint8_t* pixels = buffer->data();
    const int width = buffer->width();
    const int height = buffer->height();
    const std::size_t stride = buffer->bytesPerRow();
    return wrap(width, height, stride,
                {.format = PixelFormat::BGRA8, .premultiplied = true, .opaque = true}, pixels,
                std::move(buffer));
}

double Bitmap::pointWidth() const {
    return (turnsByAQuarter(layout_.orientation) ? height_ : width_) / layout_.scale;
}

double Bitmap::pointHeight() const {
    return (turnsByAQuarter(layout_.orientation) ? width_ : height_) / layout_.scale;
}

}  // namespace pelmar::image
