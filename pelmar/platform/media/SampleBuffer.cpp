#include "pelmar/platform/media/SampleBuffer.h"

#include <utility>

namespace pelmar::media {

std::shared_ptr<SampleBuffer> SampleBuffer::createForImageBuffer(std::shared_ptr<PixelBuffer> image,
                                                                 const SampleTimingInfo& timing) {
    if (!image) {
        return nullptr;
    }
    std::shared_ptr<SampleBuffer> s(new SampleBuffer());
    s->format_ = FormatDescription::forPixelBuffer(*image);
    s->image_ = std::move(image);
    s->timings_ = {timing};
    s->numSamples_ = 1;
    return s;
}

std::shared_ptr<SampleBuffer> SampleBuffer::createWithData(
        std::shared_ptr<const FormatDescription> format,
        std::shared_ptr<const std::vector<uint8_t>> data,
        int64_t numSamples,
        std::vector<SampleTimingInfo> timings) {
    if (!format || !data || numSamples < 0 || timings.empty()) {
        return nullptr;
    }
    if (format->mediaType() == MediaType::Audio && format->codecType() == CodecType::LinearPCM) {
        const auto bytesPerFrame = format->audioStreamBasicDescription().bytesPerFrame;
        // Compared by division so that a huge count cannot wrap around to the real size.
        if (bytesPerFrame == 0 || data->size() % bytesPerFrame != 0
            || data->size() / bytesPerFrame != static_cast<std::size_t>(numSamples)) {
            return nullptr;
        }
    }
    std::shared_ptr<SampleBuffer> s(new SampleBuffer());
    s->format_ = std::move(format);
    s->data_ = std::move(data);
    s->numSamples_ = numSamples;
    s->timings_ = std::move(timings);
    return s;
}

std::shared_ptr<SampleBuffer> SampleBuffer::copyWithNewTiming(
        std::vector<SampleTimingInfo> timings) const {
    if (timings.empty()) {
        return nullptr;
    }
    std::shared_ptr<SampleBuffer> s(new SampleBuffer(*this));
    s->timings_ = std::move(timings);
    return s;
}

Time SampleBuffer::presentationTimeStamp() const {
    return timings_.empty() ? Time::invalid() : timings_.front().presentationTimeStamp;
}

Time SampleBuffer::decodeTimeStamp() const {
    return timings_.empty() ? Time::invalid() : timings_.front().decodeTimeStamp;
}

Time SampleBuffer::duration() const {
    if (timings_.empty()) {
        return Time::invalid();
    }
    if (timings_.size() == 1) {
        const Time& d = timings_.front().duration;
        if (!d.isNumeric() || numSamples_ <= 1) {
            return d;
        }
        Time total = d;
        if (__builtin_mul_overflow(d.value, numSamples_, &total.value)) {
            return Time::invalid();
        }
        return total;
    }
    Time total = Time::zero();
    for (const auto& t : timings_) {
        total = total + t.duration;
    }
    return total;
}

std::span<const uint8_t> SampleBuffer::data() const {
    if (!data_) {
        return {};
    }
    return {data_->data(), data_->size()};
}

}  // namespace pelmar::media
