#pragma once

// PixelBufferPool: hands out pixel buffers of one size and format and takes each back when its
// last holder lets go, so pictures of a stream reuse the same memory frame after frame.
// Ownership: made by create() and held by shared_ptr. A buffer handed out holds the pool weakly:
//            released while the pool lives it goes back to the pool; after that it is freed.
// Threads: thread-safe; buffers may be handed out and released on any thread.
// Errors: create() returns null for sizes PixelBuffer refuses or a cap below 1;
//         createPixelBuffer() returns null while `maxBuffers` buffers are out.
// Limits: at most `maxBuffers` buffers exist at once, out or waiting for reuse.

#include <cstddef>
#include <memory>
#include <vector>

#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::media {

class PixelBufferPool {
public:
    static std::shared_ptr<PixelBufferPool> create(int width,
                                                   int height,
                                                   PixelFormat format,
                                                   int maxBuffers);

    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // A released buffer when there is one (its pixels are what its last user left), otherwise a
    // new one; null when `maxBuffers` are out.
    std::shared_ptr<PixelBuffer> createPixelBuffer();

    int width() const { return width_; }

    int height() const { return height_; }

    PixelFormat format() const { return format_; }

    int maxBuffers() const { return maxBuffers_; }

private:
    struct Shelf;

    PixelBufferPool(int width, int height, PixelFormat format, int maxBuffers);

    const int width_;
    const int height_;
    const PixelFormat format_;
    const int maxBuffers_;
    const std::shared_ptr<Shelf> shelf_;
};

}  // namespace pelmar::media
