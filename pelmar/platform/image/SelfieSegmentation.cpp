#include "pelmar/platform/image/SelfieSegmentation.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace pelmar::image {

SelfieSegmentation::SelfieSegmentation() : queue_(dispatch::Queue::serial("selfie segmentation")) {}

void SelfieSegmentation::setDelegate(std::weak_ptr<SelfieSegmentationDelegate> delegate) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
}

void SelfieSegmentation::setMarkerColor(std::optional<uint32_t> bgr) {
    MutexLock lock(mutex_);
    marker_ = bgr;
}

void SelfieSegmentation::processVideoFrame(std::shared_ptr<media::PixelBuffer> picture,
                                           media::Time time) {
    if (!started_.load()) {
        return;
    }
    if (!lateGate_.tryAdmit()) {
        ++dropped_;
        return;
    }
    std::weak_ptr<SelfieSegmentation> weak = weak_from_this();
    queue_->async([weak, picture = std::move(picture), time] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::shared_ptr<media::PixelBuffer> result;
        if (picture && !self->producesNothing_.load()) {
            result = self->segment(*picture);
        }
        ++self->processed_;
        self->lateGate_.finish();
        std::shared_ptr<SelfieSegmentationDelegate> delegate;
        {
            MutexLock lock(self->mutex_);
            delegate = self->delegate_.lock();
        }
        if (delegate) {
            delegate->selfieSegmentation(*self, result, time);
        }
    });
}

std::shared_ptr<media::PixelBuffer> SelfieSegmentation::segment(
        const media::PixelBuffer& picture) const {
    const int w = picture.width();
    const int h = picture.height();
    auto out = media::PixelBuffer::create(w, h, picture.format());
    if (!out) {
        return nullptr;
    }
    std::optional<uint32_t> marker;
    {
        MutexLock lock(mutex_);
        marker = marker_;
    }
    constexpr int kBlock = 8;
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    const double rx = w * 0.3;
    const double ry = h * 0.4;
    for (int by = 0; by < h; by += kBlock) {
        for (int bx = 0; bx < w; bx += kBlock) {
            const int bw = std::min(kBlock, w - bx);
            const int bh = std::min(kBlock, h - by);
            uint32_t sum[4] = {0, 0, 0, 0};
            for (int y = by; y < by + bh; ++y) {
                const uint8_t* p = picture.pixel(bx, y);
                for (int x = 0; x < bw; ++x, p += 4) {
                    for (int c = 0; c < 4; ++c) {
                        sum[c] += p[c];
                    }
                }
            }
            const auto n = static_cast<uint32_t>(bw * bh);
            uint8_t average[4];
            for (int c = 0; c < 4; ++c) {
                average[c] = static_cast<uint8_t>(sum[c] / n);
            }
            if (marker) {
                average[0] = static_cast<uint8_t>(*marker & 0xFF);
                average[1] = static_cast<uint8_t>((*marker >> 8) & 0xFF);
                average[2] = static_cast<uint8_t>((*marker >> 16) & 0xFF);
                average[3] = 255;
                if (picture.format() == media::PixelFormat::ARGB32) {
                    std::swap(average[0], average[3]);
                    std::swap(average[1], average[2]);
                }
            }
            for (int y = by; y < by + bh; ++y) {
                const uint8_t* src = picture.pixel(bx, y);
                uint8_t* dst = out->data() + static_cast<size_t>(y) * out->bytesPerRow()
                               + static_cast<size_t>(bx) * 4;
                const double dy = (y + 0.5 - cy) / ry;
                for (int x = 0; x < bw; ++x, src += 4, dst += 4) {
                    const double dx = (bx + x + 0.5 - cx) / rx;
                    if (dx * dx + dy * dy <= 1.0) {
                        std::memcpy(dst, src, 4);  // the person stays sharp
                    } else {
                        std::memcpy(dst, average, 4);
                    }
                }
            }
        }
    }
    return out;
}

}  // namespace pelmar::image
