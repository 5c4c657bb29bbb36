#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/MediaFrame.h"
#include "pelmar/live/MediaTransformer.h"

// FLVTagFormatter: the base of the per-track stages of the FLV muxer: turns one media frame into
// one FLV tag (11-byte header, body, PreviousTagSize) and passes it on; subclasses write the body.
// Tag times are the frame's PTS less the formatter's time origin, in whole milliseconds (32 bits,
// earlier times give 0), so a stream can start at 0 whatever clock its frames carry.
// Ownership: holds its output receiver (std::shared_ptr), which gets each tag within PutFrame.
// Threads: thread-compatible.
// Errors: std::runtime_error "FLV tag too large" (a body over kMaxTagBodyLength bytes; nothing is
//         sent); the subclasses' errors and the output receiver's exceptions propagate, and a tag
//         that fails while being written is not sent.
// Limits: a tag body is at most kMaxTagBodyLength bytes (the 24-bit DataSize field).

namespace pelmar::live {

class FLVTagFormatter : public MediaTransformer<MediaFrame, FLVFrame> {
public:
    static constexpr size_t kMaxTagBodyLength = 0xFFFFFF;

    explicit FLVTagFormatter(std::shared_ptr<IReceiver<FLVFrame>> output);

    // Seconds subtracted from every frame's PTS; 0 at construction.
    void SetTimeOrigin(double seconds) { timeOrigin_ = seconds; }

    double TimeOrigin() const { return timeOrigin_; }

    // A tag of type 9 for video input and 8 otherwise, with the input's descriptor, key flag and
    // PTS (less the time origin, never below 0).
    FLVFrame CreateOutputFrame(MediaFrame in) override;

    // Writes one whole tag into the empty `out`; returns FillDataSection's status.
    int Transform(MediaFrame in, FLVFrame& out) override;

    // Appends the tag body for `in` to `out`'s data; returns a kTransform* status.
    virtual int FillDataSection(MediaFrame in, FLVFrame& out) = 0;

    // The 32-bit millisecond tag time of `seconds`: truncated (floating-point error just below a
    // whole millisecond aside), wrapping at 2^32, 0 for negative or non-finite times.
    static uint32_t TagTime(double seconds);

private:
    double timeOrigin_ = 0.0;
};

}  // namespace pelmar::live
