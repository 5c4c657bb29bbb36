#pragma once

#include <memory>

#include "pelmar/live/FLVMetadata.h"
#include "pelmar/live/FLVTagFormatter.h"

// MetadataFormatter: writes the onMetaData script tag (type 18, time 0) of an FLV stream: the AMF0
// string "onMetaData" and an ECMA array describing the tracks present, whatever frame it is given.
// Ownership: as FLVTagFormatter.
// Threads: thread-compatible.
// Errors: as FLVTagFormatter.

namespace pelmar::live {

class MetadataFormatter : public FLVTagFormatter {
public:
    MetadataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output,
                      bool hasVideo,
                      bool hasAudio,
                      FLVMetadata metadata = {});

    // Media type and codec 0, tag type 18, PTS 0, not a key frame.
    FLVFrame CreateOutputFrame(MediaFrame in) override;

    // "duration" 0, "encoder" "pelmar", "filesize" 0; with video "width", "height", "framerate",
    // "videodatarate", "videocodecid" 7; with audio "audiosamplerate", "audiosamplesize" 16,
    // "stereo", "audiodatarate", "audiocodecid" 10. Members stand in ascending order of their keys.
    int FillDataSection(MediaFrame in, FLVFrame& out) override;

private:
    bool hasVideo_;
    bool hasAudio_;
    FLVMetadata metadata_;
};

}  // namespace pelmar::live
