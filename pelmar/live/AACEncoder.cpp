#include "pelmar/live/AACEncoder.h"

#include <utility>

#include "pelmar/live/internal/AACEncoderCpp.h"

namespace pelmar::live {

std::shared_ptr<AACEncoder> AACEncoder::create(int sampleRate, int channels, int bitrate) {
    std::shared_ptr<AACEncoder> encoder(new AACEncoder());
    // The encoder lives inside this object and calls out only within putCMSampleBuffer and flush,
    // so a plain pointer back is always valid there.
    AACEncoder* self = encoder.get();
    encoder->impl_ = std::make_unique<internal::AACEncoderCpp>(
            sampleRate, channels, bitrate,
            [self](std::span<const uint8_t> data, std::span<const uint8_t> asc, media::Time pts) {
                self->deliver(data, asc, pts);
            });
    return encoder;
}

AACEncoder::~AACEncoder() = default;

void AACEncoder::putCMSampleBuffer(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    if (impl_) {
        impl_->putFrame(sampleBuffer);
    }
}

void AACEncoder::flush() {
    if (impl_) {
        impl_->flush();
    }
}

std::shared_ptr<AACEncoderDelegate> AACEncoder::delegate() const {
    MutexLock lock(delegateMutex_);
    return delegate_.lock();
}

void AACEncoder::setDelegate(std::weak_ptr<AACEncoderDelegate> delegate) {
    MutexLock lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

void AACEncoder::deliver(std::span<const uint8_t> data,
                         std::span<const uint8_t> asc,
                         media::Time pts) {
    if (auto target = delegate()) {
        target->compressedAudioDataReceived(data, asc, pts);
    }
}

}  // namespace pelmar::live
