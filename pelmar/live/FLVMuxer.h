#pragma once

// FLVMuxer: turns the encoded frames of numbered H.264 and AAC tracks into an FLV byte stream
// handed to one output receiver as FLVFrames: on the first frame the 13-byte file header and the
// onMetaData tag, then the tags of each track's formatter (sequence headers included). Tag times
// count from the first frame given to the muxer, whatever clock the frames' PTS follow.
// Ownership: holds the output receiver (std::shared_ptr) and one formatter per track; closes the
//            output on Close and again when destroyed.
// Threads: thread-compatible: one thread at a time, also across tracks.
// Errors: std::runtime_error "unknown media type", "unsupported video codec", "unsupported audio
//         codec" (AddTrack), "unknown track ID" (PutFrame, after the header and metadata are out),
//         and whatever the formatters and the output receiver throw, unchanged.

#include <memory>
#include <vector>

#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/FLVMetadata.h"
#include "pelmar/live/FLVTagFormatter.h"
#include "pelmar/live/IMuxer.h"
#include "pelmar/live/IReceiver.h"
#include "pelmar/live/MediaFrame.h"

namespace pelmar::live {

class FLVMuxer : public IMuxer<MediaFrame> {
public:
    explicit FLVMuxer(std::shared_ptr<IReceiver<FLVFrame>> output);

    ~FLVMuxer() override;

    // Values for the onMetaData tag; used when the first frame arrives. A video track's picture
    // size is otherwise taken from the SPS of the first frame when that is a key frame.
    void SetMetadata(const FLVMetadata& metadata) { metadata_ = metadata; }

protected:
    // Video/H.264 and audio/AAC; returns the new track's id (0, 1, ...).
    unsigned AddTrackImpl(MediaDescriptor descriptor) override;

    // Frame data: one H.264 access unit as 4-byte length-prefixed NAL units, or one raw AAC frame
    // (the AudioSpecificConfig first). PTS in seconds; the key flag is read for video.
    void PutFrameImpl(MediaFrame frame, unsigned track) override;

    void CloseImpl() override;

private:
    void SendHeader();

    void SendMetadata(const MediaFrame& first, unsigned track);

    std::shared_ptr<IReceiver<FLVFrame>> output_;
    std::vector<std::shared_ptr<FLVTagFormatter>> tracks_;
    std::vector<MediaType> trackTypes_;
    bool headerSent_ = false;
    bool hasAudio_ = false;
    bool hasVideo_ = false;
    double timeOrigin_ = 0.0;
    FLVMetadata metadata_;
};

}  // namespace pelmar::live
