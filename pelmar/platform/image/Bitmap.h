#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pelmar::media {
class PixelBuffer;
}

namespace pelmar::image {

// The byte order of one pixel in memory.
enum class PixelFormat : uint8_t {
    RGBA8,  // bytes R, G, B, A
    BGRA8,  // bytes B, G, R, A (camera frames)
    Gray8,  // one byte of luminance, no alpha
};

// EXIF orientation numbers: how the stored pixels must be turned to be seen upright.
enum class Orientation : uint8_t {
    Up = 1,
    UpMirrored = 2,
    Down = 3,
    DownMirrored = 4,
    LeftMirrored = 5,
    Right = 6,
    RightMirrored = 7,
    Left = 8,
};

// How a bitmap's pixels are laid out and meant to be seen.
struct BitmapLayout {
    PixelFormat format = PixelFormat::RGBA8;
    // Colour channels already multiplied by alpha.
    bool premultiplied = true;
    // Every pixel is known to be fully opaque.
    bool opaque = false;
    double scale = 1.0;
    Orientation orientation = Orientation::Up;
};

// Bytes per pixel of a format (4, or 1 for Gray8).
int bytesPerPixel(PixelFormat format);

// Bitmap: one decoded picture in memory, typed: pixel format, whether colour is premultiplied by
// alpha, whether every pixel is opaque, bytes per row (stride), the scale of points to pixels and
// the orientation the pixels are stored in. Camera frames, decoded images, thumbnails and snapshots
// all travel as Bitmaps.
// Ownership: reference object from create() (owns its pixels) or wrap() (keeps the owner of foreign
//     pixels, such as a pixel buffer, alive); shared by shared_ptr.
// Threads: thread-compatible: whoever fills a new bitmap must finish before handing it on as const;
//     readers may then share it on any thread.
// Errors: create() and wrap() return null for sizes outside 1..kMaxDimension, more than kMaxPixels
//     pixels, a stride shorter than a row, a scale that is not positive, or null pixels.
// Limits: kMaxDimension per side, kMaxPixels in all.
class Bitmap {
public:
    static constexpr int kMaxDimension = 32768;
    static constexpr int64_t kMaxPixels = 64LL * 1024 * 1024;

    using Layout = BitmapLayout;

    // A zero-filled bitmap with packed rows that owns its pixels.
    static std::shared_ptr<Bitmap> create(int width, int height, Layout layout = {});

    static std::shared_ptr<Bitmap> create(int width, int height, PixelFormat format) {
        return create(width, height, Layout{.format = format});
    }

    // A bitmap over `stride * height` bytes at `pixels` that `owner` keeps alive.
    static std::shared_ptr<Bitmap> wrap(int width,
                                        int height,
                                        std::size_t stride,
                                        Layout layout,
                                        uint8_t* pixels,
                                        std::shared_ptr<const void> owner);

    // A camera frame: the BGRA pixels of `buffer`, opaque, kept alive by the bitmap. Null for a
    // null buffer or one in another byte order.
    static std::shared_ptr<Bitmap> wrap(std::shared_ptr<media::PixelBuffer> buffer);

    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int width() const { return width_; }

    int height() const { return height_; }

    PixelFormat format() const { return layout_.format; }

    bool premultiplied() const { return layout_.premultiplied; }

    bool opaque() const { return layout_.opaque; }

    // Points to pixels: a 2x bitmap of 200x100 pixels shows as 100x50 points.
    double scale() const { return layout_.scale; }

    Orientation orientation() const { return layout_.orientation; }

    const Layout& layout() const { return layout_; }

    std::size_t stride() const { return stride_; }

    std::size_t byteCount() const { return stride_ * static_cast<std::size_t>(height_); }

    uint8_t* data() { return data_; }

    const uint8_t* data() const { return data_; }

    uint8_t* row(int y) { return data_ + static_cast<std::size_t>(y) * stride_; }

    const uint8_t* row(int y) const { return data_ + static_cast<std::size_t>(y) * stride_; }

    // The bytes of the pixel at (x, y) in the bitmap's format; unchecked.
    const uint8_t* pixel(int x, int y) const {
        return row(y) + static_cast<std::size_t>(x) * bytesPerPixel(layout_.format);
    }

    // Size in points: pixels divided by scale, with width and height swapped for the four
    // orientations that turn by a quarter.
    double pointWidth() const;

    double pointHeight() const;

    void setScale(double scale) { layout_.scale = scale > 0 ? scale : 1.0; }

    void setOrientation(Orientation orientation) { layout_.orientation = orientation; }

    void setOpaque(bool opaque) { layout_.opaque = opaque; }

private:
    Bitmap(int width, int height, std::size_t stride, Layout layout);

    int width_;
    int height_;
    std::size_t stride_;
    Layout layout_;
    uint8_t* data_ = nullptr;
    std::unique_ptr<uint8_t[]> owned_;
    std::shared_ptr<const void> owner_;
};

}  // namespace pelmar::image
