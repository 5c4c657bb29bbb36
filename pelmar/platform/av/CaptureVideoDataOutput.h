#pragma once

#include <atomic>
#include <memory>

#include "pelmar/platform/av/CaptureDataOutput.h"
#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::av {

// CaptureVideoDataOutput: delivers camera frames (BGRA pixel buffers) to its delegate. With
// alwaysDiscardsLateVideoFrames (the default) a frame is dropped while the previous one still waits
// for the delegate (real clock only).
// Ownership: see CaptureDataOutput; made with std::make_shared.
// Threads: thread-safe.
// Errors: none.
class CaptureVideoDataOutput : public CaptureDataOutput {
public:
    static std::shared_ptr<CaptureVideoDataOutput> create() {
        return std::shared_ptr<CaptureVideoDataOutput>(new CaptureVideoDataOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::VideoData; }

    bool alwaysDiscardsLateVideoFrames() const { return discardLate_.load(); }

    void setAlwaysDiscardsLateVideoFrames(bool discard) { discardLate_.store(discard); }

    // Only BGRA is produced; other formats are kept but ignored.
    media::PixelFormat pixelFormat() const { return format_.load(); }

    void setPixelFormat(media::PixelFormat format) { format_.store(format); }

protected:
    MediaType connectionMediaType() const override { return MediaType::Video; }

    bool discardsLateSamples() const override { return discardLate_.load(); }

private:
    CaptureVideoDataOutput() = default;

    std::atomic<bool> discardLate_{true};
    std::atomic<media::PixelFormat> format_{media::PixelFormat::BGRA32};
};

}  // namespace pelmar::av
