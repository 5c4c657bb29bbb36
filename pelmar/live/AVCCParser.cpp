#include "pelmar/live/AVCCParser.h"

#include <stdexcept>

namespace pelmar::live {

namespace {

// An exp-Golomb bit reader over an SPS payload with emulation-prevention bytes removed; every
// read past the end fails the whole parse.
class RbspReader {
public:
    explicit RbspReader(const std::vector<uint8_t>& nal) {
        int zeros = 0;
        for (size_t i = 1; i < nal.size(); ++i) {
            if (zeros >= 2 && nal[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = nal[i] == 0 ? zeros + 1 : 0;
            bytes_.push_back(nal[i]);
        }
    }

    bool Bit(uint32_t& bit) {
        if (position_ >= bytes_.size() * 8) {
            return false;
        }
        bit = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1U;
        ++position_;
        return true;
    }

    bool Bits(int count, uint32_t& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            uint32_t bit = 0;
            if (!Bit(bit)) {
                return false;
            }
            value = (value << 1) | bit;
        }
        return true;
    }

    bool Ue(uint32_t& value) {
        int zeros = 0;
        uint32_t bit = 0;
        for (;;) {
            if (!Bit(bit)) {
                return false;
            }
            if (bit != 0) {
                break;
            }
            if (++zeros > 31) {
                return false;
            }
        }
        uint32_t rest = 0;
        if (!Bits(zeros, rest)) {
            return false;
        }
        value = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + rest);
        return true;
    }

    bool Se(int64_t& value) {
        uint32_t code = 0;
        if (!Ue(code)) {
            return false;
        }
        value = (code & 1U) != 0 ? static_cast<int64_t>(code / 2 + 1)
                                 : -static_cast<int64_t>(code / 2);
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
};

bool SkipScalingList(RbspReader& reader, int size) {
    int64_t last = 8;
    int64_t next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            int64_t delta = 0;
            if (!reader.Se(delta)) {
                return false;
            }
            next = ((last + delta) % 256 + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

bool HasChromaFields(uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

void PutLengthAndBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& unit) {
    out.push_back(static_cast<uint8_t>(unit.size() >> 8));
    out.push_back(static_cast<uint8_t>(unit.size()));
    out.insert(out.end(), unit.begin(), unit.end());
}

}  // namespace

void AVCCParser::ExtractSpsPps(const std::vector<uint8_t>& data) {
    sps_.clear();
    pps_.clear();
    size_t position = 0;
    while (data.size() - position >= 4) {
        const size_t length = (size_t{data[position]} << 24) | (size_t{data[position + 1]} << 16)
                              | (size_t{data[position + 2]} << 8) | data[position + 3];
        position += 4;
        if (length == 0) {
            continue;
        }
        if (data.size() - position < length) {
            break;
        }
        const auto first = data.begin() + static_cast<std::ptrdiff_t>(position);
        const auto last = first + static_cast<std::ptrdiff_t>(length);
        const uint8_t type = data[position] & 0x1F;
        if (type == 7 && length >= kMinSpsLength) {
            sps_.emplace_back(first, last);
        } else if (type == 8) {
            pps_.emplace_back(first, last);
        }
        position += length;
    }
}

std::vector<uint8_t> AVCCParser::GetDecoderConfigurationRecord() const {
    if (sps_.empty()) {
        throw std::runtime_error("no sps defined");
    }
    if (sps_.size() > kMaxSpsUnits) {
        throw std::runtime_error("too many sps units");
    }
    if (pps_.size() > kMaxPpsUnits) {
        throw std::runtime_error("too many pps units");
    }
    size_t total = 7;
    for (const auto* list : {&sps_, &pps_}) {
        for (const auto& unit : *list) {
            if (unit.size() > kMaxParameterSetLength) {
                throw std::runtime_error("parameter set too long");
            }
            total += 2 + unit.size();
        }
    }
    const auto& first = sps_.front();
    std::vector<uint8_t> record;
    record.reserve(total);
    record.push_back(1);
    record.push_back(first[1]);
    record.push_back(first[2]);
    record.push_back(first[3]);
    record.push_back(0xFF);  // six reserved bits, lengthSizeMinusOne 3
    record.push_back(static_cast<uint8_t>(0xE0 | sps_.size()));
    for (const auto& unit : sps_) {
        PutLengthAndBytes(record, unit);
    }
    record.push_back(static_cast<uint8_t>(pps_.size()));
    for (const auto& unit : pps_) {
        PutLengthAndBytes(record, unit);
    }
    return record;
}

std::optional<AVCCParser::PictureSize> AVCCParser::ReadPictureSize(
        const std::vector<uint8_t>& sps) {
    if (sps.size() < kMinSpsLength || (sps[0] & 0x1F) != 7) {
        return std::nullopt;
    }
    RbspReader r(sps);
    uint32_t profile = 0;
    uint32_t skip = 0;
    uint32_t chromaFormat = 1;
    uint32_t separatePlanes = 0;
    if (!r.Bits(8, profile) || !r.Bits(16, skip) || !r.Ue(skip)) {
        return std::nullopt;
    }
    if (HasChromaFields(profile)) {
        uint32_t scalingMatrix = 0;
        if (!r.Ue(chromaFormat) || chromaFormat > 3) {
            return std::nullopt;
        }
        if (chromaFormat == 3 && !r.Bit(separatePlanes)) {
            return std::nullopt;
        }
        if (!r.Ue(skip) || !r.Ue(skip) || !r.Bit(skip) || !r.Bit(scalingMatrix)) {
            return std::nullopt;
        }
        if (scalingMatrix != 0) {
            const int lists = chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                uint32_t present = 0;
                if (!r.Bit(present) || (present != 0 && !SkipScalingList(r, i < 6 ? 16 : 64))) {
                    return std::nullopt;
                }
            }
        }
    }
    uint32_t pocType = 0;
    if (!r.Ue(skip) || !r.Ue(pocType)) {
        return std::nullopt;
    }
    if (pocType == 0) {
        if (!r.Ue(skip)) {
            return std::nullopt;
        }
    } else if (pocType == 1) {
        int64_t offset = 0;
        uint32_t cycle = 0;
        if (!r.Bit(skip) || !r.Se(offset) || !r.Se(offset) || !r.Ue(cycle) || cycle > 255) {
            return std::nullopt;
        }
        for (uint32_t i = 0; i < cycle; ++i) {
            if (!r.Se(offset)) {
                return std::nullopt;
            }
        }
    } else if (pocType != 2) {
        return std::nullopt;
    }
    uint32_t widthInMbs = 0;
    uint32_t heightInMapUnits = 0;
    uint32_t frameMbsOnly = 0;
    uint32_t cropping = 0;
    if (!r.Ue(skip) || !r.Bit(skip) || !r.Ue(widthInMbs) || !r.Ue(heightInMapUnits)
        || !r.Bit(frameMbsOnly)) {
        return std::nullopt;
    }
    if (frameMbsOnly == 0 && !r.Bit(skip)) {
        return std::nullopt;
    }
    if (!r.Bit(skip) || !r.Bit(cropping)) {
        return std::nullopt;
    }
    uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
    if (cropping != 0) {
        for (auto& c : crop) {
            if (!r.Ue(c)) {
                return std::nullopt;
            }
        }
    }
    const bool monochrome = chromaFormat == 0 || separatePlanes != 0;
    const uint64_t cropUnitX = monochrome ? 1 : (chromaFormat == 3 ? 1 : 2);
    const uint64_t cropUnitY = (monochrome ? 1 : (chromaFormat == 1 ? 2 : 1)) * (2 - frameMbsOnly);
    const uint64_t fullWidth = (uint64_t{widthInMbs} + 1) * 16;
    const uint64_t fullHeight = (uint64_t{heightInMapUnits} + 1) * 16 * (2 - frameMbsOnly);
    const uint64_t cropX = cropUnitX * (uint64_t{crop[0]} + crop[1]);
    const uint64_t cropY = cropUnitY * (uint64_t{crop[2]} + crop[3]);
    if (cropX >= fullWidth || cropY >= fullHeight || fullWidth > 65536 || fullHeight > 65536) {
        return std::nullopt;
    }
    return PictureSize{static_cast<uint32_t>(fullWidth - cropX),
                       static_cast<uint32_t>(fullHeight - cropY)};
}

}  // namespace pelmar::live
