#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pelmar/live/BitstreamReader.h"
#include "pelmar/live/BitstreamWriter.h"
#include "pelmar/live/MediaDescriptor.h"

// MediaFrame: a handle to one piece of media or protocol data (bytes, descriptor, presentation
// time, key flag) that passes through the stages of the streaming library.
// Ownership: copies of a handle share one implementation, released with the last handle; bytes,
//            time or key flag changed through one copy are seen through all. Subclasses add handle
//            fields, which copies take by value.
// Threads: thread-compatible; copies of a frame may be released on different threads.
// Errors: none of its own; growing the data may throw std::bad_alloc.

namespace pelmar::live {

class MediaFrame {
public:
    struct MediaFrameImplementation {
        std::vector<uint8_t> data;
        MediaDescriptor descriptor;
        double pts = 0.0;
        bool keyFrame = false;
    };

    // Empty data, PTS 0.0, not a key frame.
    MediaFrame(MediaType type, MediaCodec codec);

    virtual ~MediaFrame() = default;

    // Copying shares the implementation. There is no move: a moved-from handle would be empty.
    MediaFrame(const MediaFrame&) = default;
    MediaFrame& operator=(const MediaFrame&) = default;

    std::vector<uint8_t>& Data() { return impl_->data; }

    const std::vector<uint8_t>& Data() const { return impl_->data; }

    MediaDescriptor& Descriptor() { return impl_->descriptor; }

    const MediaDescriptor& Descriptor() const { return impl_->descriptor; }

    // Seconds.
    double PTS() const { return impl_->pts; }

    void SetPTS(double seconds) { impl_->pts = seconds; }

    bool KeyFrame() const { return impl_->keyFrame; }

    void SetKeyFrame(bool keyFrame) { impl_->keyFrame = keyFrame; }

    // A reader over the data at byte 0; the frame must outlive it.
    BitstreamReader GetDataReader() const { return BitstreamReader(impl_->data); }

    // A writer over the data at byte 0 (it overwrites; call SeekToEnd() to append); the frame must
    // outlive it.
    BitstreamWriter GetDataWriter() { return BitstreamWriter(impl_->data); }

private:
    std::shared_ptr<MediaFrameImplementation> impl_;
};

}  // namespace pelmar::live
