#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelmar::media {

// Pixel formats, numbered as four-character codes (32 is the classic code of 32-bit ARGB).
enum class PixelFormat : uint32_t {
    ARGB32 = 32,          // bytes A, R, G, B
    BGRA32 = 0x42475241,  // 'BGRA': bytes B, G, R, A
};

// PixelBuffer: one picture in memory, packed rows of 4-byte pixels.
// Ownership: reference object made by create() and shared by shared_ptr (sample buffers, writer
//     queues and images hold it); the pixels live as long as the last holder.
// Threads: thread-compatible: whoever fills it must finish before handing it on; readers may share.
// Errors: create() returns null for sizes outside 1..kMaxDimension.
// Limits: kMaxDimension per side.
class PixelBuffer {
public:
    static constexpr int kMaxDimension = 16384;

    static std::shared_ptr<PixelBuffer> create(int width, int height, PixelFormat format);

    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    int width() const { return width_; }

    int height() const { return height_; }

    PixelFormat format() const { return format_; }

    std::size_t bytesPerRow() const { return bytesPerRow_; }

    uint8_t* data() { return pixels_.data(); }

    const uint8_t* data() const { return pixels_.data(); }

    std::size_t size() const { return pixels_.size(); }

    // The 4 bytes of the pixel at (x, y), in the buffer's byte order; unchecked.
    const uint8_t* pixel(int x, int y) const {
        return pixels_.data() + static_cast<std::size_t>(y) * bytesPerRow_
               + static_cast<std::size_t>(x) * 4;
    }

private:
    PixelBuffer(int width, int height, PixelFormat format);

    int width_;
    int height_;
    PixelFormat format_;
    std::size_t bytesPerRow_;
    std::vector<uint8_t> pixels_;
};

}  // namespace pelmar::media
