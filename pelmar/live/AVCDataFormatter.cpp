#include "pelmar/live/AVCDataFormatter.h"

#include <stdexcept>
#include <utility>

#include "pelmar/live/AVCCParser.h"

namespace pelmar::live {

AVCDataFormatter::AVCDataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output)
    : FLVTagFormatter(std::move(output)) {}

int AVCDataFormatter::FillDataSection(MediaFrame in, FLVFrame& out) {
    auto& data = out.Data();
    data.push_back(in.KeyFrame() ? 0x17 : 0x27);
    if (sequenceHeaderSent_ || (!firstFrame_ && !in.KeyFrame())) {
        sequenceHeaderSent_ = false;
        data.insert(data.end(), {1, 0, 0, 0});
        data.insert(data.end(), in.Data().begin(), in.Data().end());
        return kTransformComplete;
    }
    if (!in.KeyFrame()) {
        throw std::runtime_error("first AVC frame is not a keyframe");
    }
    AVCCParser parser;
    parser.ExtractSpsPps(in.Data());
    if (parser.SPS().empty()) {
        if (firstFrame_) {
            // Without a sequence header nothing after this frame could be decoded: keep waiting
            // for a key frame that carries one.
            throw std::runtime_error("no sps found in keyframe");
        }
        data.insert(data.end(), {1, 0, 0, 0});
        data.insert(data.end(), in.Data().begin(), in.Data().end());
        return kTransformComplete;
    }
    auto record = parser.GetDecoderConfigurationRecord();
    if (!firstFrame_ && record == lastRecord_) {
        data.insert(data.end(), {1, 0, 0, 0});
        data.insert(data.end(), in.Data().begin(), in.Data().end());
        return kTransformComplete;
    }
    data.insert(data.end(), {0, 0, 0, 0});
    data.insert(data.end(), record.begin(), record.end());
    lastRecord_ = std::move(record);
    firstFrame_ = false;
    sequenceHeaderSent_ = true;
    return kTransformCompleteMore;
}

}  // namespace pelmar::live
