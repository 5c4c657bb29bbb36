#pragma once

#include <atomic>

#include "pelmar/platform/av/CaptureTypes.h"

namespace pelmar::av {

// CaptureConnection: the link from a session's input to an output (or a preview layer), carrying
// the picture orientation, mirroring and stabilisation of video. The synthetic camera reads
// orientation and mirroring for every frame it makes.
// Defaults: a new connection is portrait, not mirrored, stabilisation off, enabled. A portrait
// connection gives pictures taller than wide: the session preset's landscape size with width and
// height swapped (Medium: 360 x 480 rather than 480 x 360); set a landscape orientation for
// landscape pictures. A camera showing an image gives pictures of the image's size.
// Ownership: shared by shared_ptr; owned by its output or preview layer.
// Threads: thread-safe (atomic fields).
// Errors: none.
class CaptureConnection {
public:
    explicit CaptureConnection(MediaType media) : media_(media) {}

    CaptureConnection(const CaptureConnection&) = delete;
    CaptureConnection& operator=(const CaptureConnection&) = delete;

    MediaType mediaType() const { return media_; }

    VideoOrientation videoOrientation() const { return orientation_.load(); }

    void setVideoOrientation(VideoOrientation o) { orientation_.store(o); }

    bool isVideoMirrored() const { return mirrored_.load(); }

    void setVideoMirrored(bool mirrored) { mirrored_.store(mirrored); }

    bool isVideoStabilizationSupported() const { return media_ == MediaType::Video; }

    VideoStabilizationMode preferredVideoStabilizationMode() const { return stabilization_.load(); }

    void setPreferredVideoStabilizationMode(VideoStabilizationMode mode) {
        stabilization_.store(mode);
    }

    bool isEnabled() const { return enabled_.load(); }

    void setEnabled(bool enabled) { enabled_.store(enabled); }

private:
    const MediaType media_;
    std::atomic<VideoOrientation> orientation_{VideoOrientation::Portrait};
    std::atomic<bool> mirrored_{false};
    std::atomic<VideoStabilizationMode> stabilization_{VideoStabilizationMode::Off};
    std::atomic<bool> enabled_{true};
};

}  // namespace pelmar::av
