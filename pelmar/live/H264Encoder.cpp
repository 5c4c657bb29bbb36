#include "pelmar/live/H264Encoder.h"

#include <utility>

#include "pelmar/live/internal/H264EncoderCpp.h"

namespace pelmar::live {

std::shared_ptr<H264Encoder> H264Encoder::create(int width,
                                                 int height,
                                                 int bitrate,
                                                 int framerate) {
    std::shared_ptr<H264Encoder> encoder(new H264Encoder());
    // The session lives inside the encoder and calls out only within putCVPixelBuffer and
    // signalCompressedData, so a plain pointer back to the encoder is always valid there.
    H264Encoder* self = encoder.get();
    encoder->impl_ = std::make_unique<internal::H264EncoderCpp>(
            width, height, bitrate, framerate,
            [self](std::shared_ptr<const media::SampleBuffer> sampleBuffer) {
                self->deliver(sampleBuffer);
            });
    return encoder;
}

H264Encoder::~H264Encoder() = default;

void H264Encoder::putCVPixelBuffer(const std::shared_ptr<media::PixelBuffer>& pixelBuffer,
                                   media::Time timestamp) {
    if (impl_) {
        impl_->putFrame(pixelBuffer, timestamp);
    }
}

std::shared_ptr<media::PixelBufferPool> H264Encoder::pixelBufferPool() const {
    return impl_ ? impl_->pixelBufferPool() : nullptr;
}

void H264Encoder::signalCompressedData(std::shared_ptr<const media::SampleBuffer> sampleBuffer) {
    if (impl_) {
        impl_->signalCompressedData(std::move(sampleBuffer));
    }
}

std::shared_ptr<H264EncoderDelegate> H264Encoder::delegate() const {
    MutexLock lock(delegateMutex_);
    return delegate_.lock();
}

void H264Encoder::setDelegate(std::weak_ptr<H264EncoderDelegate> delegate) {
    MutexLock lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

void H264Encoder::deliver(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    if (auto target = delegate()) {
        target->compressedVideoDataReceived(sampleBuffer);
    }
}

}  // namespace pelmar::live
