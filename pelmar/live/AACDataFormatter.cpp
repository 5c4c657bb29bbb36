#include "pelmar/live/AACDataFormatter.h"

#include <utility>

namespace pelmar::live {

AACDataFormatter::AACDataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output)
    : FLVTagFormatter(std::move(output)) {}

int AACDataFormatter::FillDataSection(MediaFrame in, FLVFrame& out) {
    auto& data = out.Data();
    data.push_back(0xAF);
    data.push_back(firstFrame_ ? 0 : 1);
    data.insert(data.end(), in.Data().begin(), in.Data().end());
    firstFrame_ = false;
    return kTransformComplete;
}

}  // namespace pelmar::live
