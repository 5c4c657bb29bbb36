#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/media/FormatDescription.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"

namespace pelmar::media {

// The timing of one sample (or of a run of samples of equal duration).
struct SampleTimingInfo {
    Time duration;
    Time presentationTimeStamp;
    Time decodeTimeStamp;  // invalid when equal to the presentation time
};

// SampleBuffer: a unit of media with its timing: a raw picture (an image buffer), a run of audio
// frames (interleaved PCM bytes), or encoded data (an H.264 access unit in AVCC form, AAC frames),
// with its format description and attachments (key/value metadata, such as {"{Exif}":
// {"BrightnessValue": 1.5}} on camera frames).
// Ownership: reference object shared by shared_ptr<const SampleBuffer> once built; holds its pixel
//     buffer and data. Copies with new timing share the payload.
// Threads: thread-compatible while being built; thread-safe once shared as const.
// Errors: factories return null for missing or inconsistent parts.
class SampleBuffer {
public:
    // A picture with one timing entry.
    static std::shared_ptr<SampleBuffer> createForImageBuffer(std::shared_ptr<PixelBuffer> image,
                                                              const SampleTimingInfo& timing);

    // `data` holds `numSamples` samples (audio frames of `format`, or one encoded unit).
    static std::shared_ptr<SampleBuffer> createWithData(
            std::shared_ptr<const FormatDescription> format,
            std::shared_ptr<const std::vector<uint8_t>> data,
            int64_t numSamples,
            std::vector<SampleTimingInfo> timings);

    // The same payload, format and attachments with other timing entries; null when `timings`
    // is empty.
    std::shared_ptr<SampleBuffer> copyWithNewTiming(std::vector<SampleTimingInfo> timings) const;

    const std::shared_ptr<const FormatDescription>& formatDescription() const { return format_; }

    MediaType mediaType() const { return format_->mediaType(); }

    // The first entry's presentation time (invalid without entries).
    Time presentationTimeStamp() const;

    Time decodeTimeStamp() const;

    // The whole buffer's duration: the first entry's duration times the samples for a single
    // entry describing a run, else the sum of the entries; invalid when it does not fit.
    Time duration() const;

    const std::vector<SampleTimingInfo>& timingInfo() const { return timings_; }

    int64_t numSamples() const { return numSamples_; }

    const std::shared_ptr<PixelBuffer>& imageBuffer() const { return image_; }

    // The payload bytes (empty for pictures).
    std::span<const uint8_t> data() const;

    const std::shared_ptr<const std::vector<uint8_t>>& dataBuffer() const { return data_; }

    // Encoded video: whether this unit can be decoded on its own.
    bool isKeyFrame() const { return keyFrame_; }

    void setKeyFrame(bool keyFrame) { keyFrame_ = keyFrame; }

    const Json& attachments() const { return attachments_; }

    Json& attachments() { return attachments_; }

private:
    SampleBuffer() = default;

    std::shared_ptr<const FormatDescription> format_;
    std::vector<SampleTimingInfo> timings_;
    int64_t numSamples_ = 0;
    std::shared_ptr<PixelBuffer> image_;
    std::shared_ptr<const std::vector<uint8_t>> data_;
    bool keyFrame_ = true;
    Json attachments_ = Json::object();
};

}  // namespace pelmar::media
