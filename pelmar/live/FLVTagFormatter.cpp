#include "pelmar/live/FLVTagFormatter.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace pelmar::live {

namespace {

// A time such as 0.28 s is 279.99999999999997 ms in binary floating point; truncating that to 279
// would shift frames by a millisecond, so a millionth of a millisecond below a whole one counts
// as the whole one.
constexpr double kMillisecondSlack = 1e-6;

}  // namespace

FLVTagFormatter::FLVTagFormatter(std::shared_ptr<IReceiver<FLVFrame>> output)
    : MediaTransformer(std::move(output)) {}

FLVFrame FLVTagFormatter::CreateOutputFrame(MediaFrame in) {
    const auto& descriptor = in.Descriptor();
    FLVFrame out(descriptor.type, descriptor.codec,
                 descriptor.type == MediaType::Video ? kFLVTagVideo : kFLVTagAudio);
    // Whole milliseconds are subtracted, so a time and its origin round alike and the stream
    // keeps the exact steps of the frames' clock.
    const double ms = std::floor(in.PTS() * 1000.0 + kMillisecondSlack)
                      - std::floor(timeOrigin_ * 1000.0 + kMillisecondSlack);
    out.SetPTS(std::isfinite(ms) && ms > 0.0 ? ms / 1000.0 : 0.0);
    out.SetKeyFrame(in.KeyFrame());
    return out;
}

uint32_t FLVTagFormatter::TagTime(double seconds) {
    const double ms = std::floor(seconds * 1000.0 + kMillisecondSlack);
    if (!std::isfinite(ms) || ms <= 0.0) {
        return 0;
    }
    return static_cast<uint32_t>(std::fmod(ms, 4294967296.0));
}

int FLVTagFormatter::Transform(MediaFrame in, FLVFrame& out) {
    auto& data = out.Data();
    data.clear();
    const uint32_t t = TagTime(out.PTS());
    const uint8_t header[kFLVTagHeaderLength] = {
            out.TagType(),
            0,
            0,
            0,  // DataSize, set below
            static_cast<uint8_t>(t >> 16),
            static_cast<uint8_t>(t >> 8),
            static_cast<uint8_t>(t),
            static_cast<uint8_t>(t >> 24),  // TimestampExtended: the high byte
            0,
            0,
            0,  // StreamID
    };
    // Room for the body formats' few extra bytes and the trailer: the frame's bytes are copied
    // once.
    data.reserve(kFLVTagHeaderLength + in.Data().size() + 16 + kFLVPreviousTagSizeLength);
    data.assign(header, header + kFLVTagHeaderLength);
    int status = kTransformComplete;
    try {
        status = FillDataSection(in, out);
    } catch (...) {
        data.clear();
        throw;
    }
    const size_t body = data.size() - kFLVTagHeaderLength;
    if (body > kMaxTagBodyLength) {
        data.clear();
        throw std::runtime_error("FLV tag too large");
    }
    const auto n = static_cast<uint32_t>(data.size());
    data.push_back(static_cast<uint8_t>(n >> 24));
    data.push_back(static_cast<uint8_t>(n >> 16));
    data.push_back(static_cast<uint8_t>(n >> 8));
    data.push_back(static_cast<uint8_t>(n));
    data[1] = static_cast<uint8_t>(body >> 16);
    data[2] = static_cast<uint8_t>(body >> 8);
    data[3] = static_cast<uint8_t>(body);
    return status;
}

}  // namespace pelmar::live
