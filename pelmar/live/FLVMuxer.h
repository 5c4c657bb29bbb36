#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/FLVMetadata.h"
#include "pelmar/live/FLVTagFormatter.h"
#include "pelmar/live/IMuxer.h"
#include "pelmar/live/IReceiver.h"
#include "pelmar/live/MediaFrame.h"

// FLVMuxer: turns the encoded frames of numbered H.264 and AAC tracks into an FLV byte stream
// handed to one output receiver as FLVFrames: the 13-byte file header and the onMetaData tag, then
// the tags of each track's formatter (sequence headers included). The header and metadata wait
// until every track has given its first frame (or kMaxHeldFrames frames, or kMaxHeldSeconds of
// stream time, are held, or the muxer closes), so that the metadata describes every track whatever
// arrives first: the picture size from the first SPS, the sample rate and channels from the
// AudioSpecificConfig, unless SetMetadata gave them. The held frames follow in their order. Tag
// times count from the first frame given to the muxer, whatever clock the frames' PTS follow.
// Ownership: holds the output receiver (std::shared_ptr) and one formatter per track; closes the
//            output on Close and again when destroyed.
// Threads: thread-compatible: one thread at a time, also across tracks.
// Limits: kMaxHeldFrames frames held before the header.
// Errors: std::runtime_error "unknown media type", "unsupported video codec", "unsupported audio
//         codec" (AddTrack), "unknown track ID" (PutFrame, after the header and metadata are out),
//         and whatever the formatters and the output receiver throw, unchanged.

namespace pelmar::live {

class FLVMuxer : public IMuxer<MediaFrame> {
public:
    static constexpr size_t kMaxHeldFrames = 256;
    static constexpr double kMaxHeldSeconds = 1.0;

    explicit FLVMuxer(std::shared_ptr<IReceiver<FLVFrame>> output);

    ~FLVMuxer() override;

    // Values for the onMetaData tag, used when it is sent; they win over what the frames say.
    void SetMetadata(const FLVMetadata& metadata) { metadata_ = metadata; }

protected:
    // Video/H.264 and audio/AAC; returns the new track's id (0, 1, ...).
    unsigned AddTrackImpl(MediaDescriptor descriptor) override;

    // Frame data: one H.264 access unit as 4-byte length-prefixed NAL units, or one raw AAC frame
    // (the AudioSpecificConfig first). PTS in seconds; the key flag is read for video. An error of
    // a held frame is thrown by the call that sends it (the first one, when several fail).
    void PutFrameImpl(MediaFrame frame, unsigned track) override;

    // Sends what is held, then closes the output.
    void CloseImpl() override;

private:
    // Notes what the first frame of `track` says about its stream.
    void LearnFrom(const MediaFrame& frame, unsigned track);

    bool ReadyToStart() const;

    // Sends the header, the metadata and every held frame.
    void Start();

    void SendHeader();

    void SendMetadata();

    std::shared_ptr<IReceiver<FLVFrame>> output_;
    std::vector<std::shared_ptr<FLVTagFormatter>> tracks_;
    std::vector<MediaType> trackTypes_;
    bool headerSent_ = false;
    bool hasAudio_ = false;
    bool hasVideo_ = false;
    double timeOrigin_ = 0.0;
    FLVMetadata metadata_;
    FLVMetadata learned_;  // from the first SPS and AudioSpecificConfig
    std::vector<std::pair<MediaFrame, unsigned>> held_;  // until the header goes out
};

}  // namespace pelmar::live
