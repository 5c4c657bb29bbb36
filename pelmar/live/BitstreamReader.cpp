#include "pelmar/live/BitstreamReader.h"

namespace pelmar::live {

BitstreamReader::BitstreamReader(const std::vector<uint8_t>& source) : source_(source) {}

uint8_t BitstreamReader::GetByteInternal() {
    if (position_ == source_.size()) {
        return 0;
    }
    return source_[position_++];
}

uint8_t BitstreamReader::GetByte() {
    RequireAligned();
    return GetByteInternal();
}

uint64_t BitstreamReader::GetBits(uint8_t count) {
    if (count > 64) {
        throw std::invalid_argument("bit count above 64");
    }
    uint64_t result = 0;
    unsigned remaining = count;
    while (remaining > 0) {
        if (bitsLeft_ == 0) {
            bitBuffer_ = GetByteInternal();
            bitsLeft_ = 8;
        }
        const unsigned n = std::min<unsigned>(remaining, bitsLeft_);
        const unsigned shift = bitsLeft_ - n;
        const uint64_t bits = (static_cast<unsigned>(bitBuffer_) >> shift) & ((1u << n) - 1);
        bitsLeft_ = static_cast<uint8_t>(bitsLeft_ - n);
        remaining -= n;
        result |= bits << remaining;
    }
    return result;
}

void BitstreamReader::SetPosition(size_t offset) {
    position_ = std::min(offset, source_.size());
}

void BitstreamReader::Skip(size_t count) {
    position_ += std::min(count, RemainingDataSize());
}

void BitstreamReader::RequireAligned() const {
    if (bitsLeft_ != 0) {
        throw std::runtime_error("bitstream reader is not aligned");
    }
}

}  // namespace pelmar::live
