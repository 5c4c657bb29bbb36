#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pelmar/live/FLVTagFormatter.h"

// AVCDataFormatter: writes the FLV video tags (type 9) of one H.264 track. Input frames hold one
// access unit as NAL units with 4-byte big-endian lengths. The first key frame that carries an SPS
// yields two tags of the same time: the AVC sequence header (its decoder configuration record),
// then the frame itself. A later key frame whose parameter sets differ from those last written
// gets a fresh sequence header first, so a decoder follows a change of stream parameters.
// Ownership: as FLVTagFormatter; keeps the last sequence header written.
// Threads: thread-compatible.
// Errors: std::runtime_error "first AVC frame is not a keyframe" (input before the first
//         sequence header that is not a key frame), "no sps found in keyframe" (a key frame without
//         a usable SPS before the first sequence header), and AVCCParser's record errors. Nothing
//         is sent for the failing frame and the formatter still waits for a key frame with an SPS.

namespace pelmar::live {

class AVCDataFormatter : public FLVTagFormatter {
public:
    explicit AVCDataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output);

    // Frame type (1 key, 2 inter) and codec 7, then either packet type 0, composition time 0 and
    // the record (returning kTransformCompleteMore), or packet type 1, composition time 0 and the
    // input's data.
    int FillDataSection(MediaFrame in, FLVFrame& out) override;

private:
    bool firstFrame_ = true;           // no sequence header written yet
    bool sequenceHeaderSent_ = false;  // the next call writes the frame that followed a header
    std::vector<uint8_t> lastRecord_;
};

}  // namespace pelmar::live
