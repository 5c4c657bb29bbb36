#include "pelmar/platform/media/PixelBufferPool.h"

#include <utility>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::media {

// The pool's state that buffers out in the world return to. They hold it weakly, so a pool
// dropped while its buffers are still in use frees each of them when it comes back.
struct PixelBufferPool::Shelf {
    // Deleter of a handed-out buffer: `buffer` keeps the pixels alive and goes back on the shelf,
    // or is freed when the pool is gone.
    struct Return {
        std::weak_ptr<Shelf> shelf;
        std::shared_ptr<PixelBuffer> buffer;

        void operator()(PixelBuffer*) {
            if (const auto live = shelf.lock()) {
                MutexLock lock(live->mutex);
                --live->out;
                live->idle.push_back(std::move(buffer));
            }
            buffer.reset();
        }
    };

    Mutex mutex;
    std::vector<std::shared_ptr<PixelBuffer>> idle PELMAR_GUARDED_BY(mutex);
    int out PELMAR_GUARDED_BY(mutex) = 0;
};

PixelBufferPool::PixelBufferPool(int width, int height, PixelFormat format, int maxBuffers)
    : width_(width),
      height_(height),
      format_(format),
      maxBuffers_(maxBuffers),
      shelf_(std::make_shared<Shelf>()) {}

std::shared_ptr<PixelBufferPool> PixelBufferPool::create(int width,
                                                         int height,
                                                         PixelFormat format,
                                                         int maxBuffers) {
    if (maxBuffers < 1 || width < 1 || height < 1 || width > PixelBuffer::kMaxDimension
        || height > PixelBuffer::kMaxDimension) {
        return nullptr;
    }
    return std::shared_ptr<PixelBufferPool>(new PixelBufferPool(width, height, format, maxBuffers));
}

std::shared_ptr<PixelBuffer> PixelBufferPool::createPixelBuffer() {
    std::shared_ptr<PixelBuffer> buffer;
    {
        MutexLock lock(shelf_->mutex);
        if (shelf_->out >= maxBuffers_) {
            return nullptr;
        }
        if (!shelf_->idle.empty()) {
            buffer = std::move(shelf_->idle.back());
            shelf_->idle.pop_back();
        }
        ++shelf_->out;
    }
    // A new buffer is allocated outside the lock: other threads may release meanwhile.
    if (!buffer) {
        try {
            buffer = PixelBuffer::create(width_, height_, format_);
        } catch (...) {
            MutexLock lock(shelf_->mutex);
            --shelf_->out;
            throw;
        }
    }
    PixelBuffer* pixels = buffer.get();
    return std::shared_ptr<PixelBuffer>(pixels, Shelf::Return{shelf_, std::move(buffer)});
}

}  // namespace pelmar::media
