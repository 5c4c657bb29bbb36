#pragma once

#include <memory>

#include "pelmar/live/FLVTagFormatter.h"

// AACDataFormatter: writes the FLV audio tags (type 8) of one AAC track: the first frame given is
// sent as the AAC sequence header (it must hold the AudioSpecificConfig), every later one as a raw
// AAC frame. The sound-format byte is 0xAF (AAC, and the rate, size and channel flags that FLV
// fixes for AAC) whatever the real format.
// Ownership: as FLVTagFormatter.
// Threads: thread-compatible.
// Errors: as FLVTagFormatter.

namespace pelmar::live {

class AACDataFormatter : public FLVTagFormatter {
public:
    explicit AACDataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output);

    // 0xAF, packet type 0 (first frame) or 1, then the input's data.
    int FillDataSection(MediaFrame in, FLVFrame& out) override;

private:
    bool firstFrame_ = true;
};

}  // namespace pelmar::live
