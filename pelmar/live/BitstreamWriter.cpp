#include "pelmar/live/BitstreamWriter.h"

namespace pelmar::live {

BitstreamWriter::BitstreamWriter(std::vector<uint8_t>& target) : target_(target) {}

void BitstreamWriter::PutByteInternal(uint8_t byte) {
    if (position_ == target_.size()) {
        target_.push_back(byte);
    } else {
        target_[position_] = byte;
    }
    ++position_;
}

void BitstreamWriter::PutByte(uint8_t byte) {
    RequireAligned();
    PutByteInternal(byte);
}

void BitstreamWriter::PutBits(uint64_t value, uint8_t count) {
    if (count == 0) {
        return;
    }
    if (count > 64) {
        throw std::invalid_argument("bit count above 64");
    }
    if (count < 64) {
        value &= (uint64_t{1} << count) - 1;
    }
    unsigned remaining = count;
    while (remaining > 0) {
        const unsigned free = 8u - bitCount_;
        const unsigned n = std::min(free, remaining);
        remaining -= n;
        const auto bits = static_cast<unsigned>((value >> remaining) & ((1u << n) - 1));
        accumulator_ = static_cast<uint8_t>(accumulator_ | (bits << (free - n)));
        bitCount_ = static_cast<uint8_t>(bitCount_ + n);
        if (bitCount_ == 8) {
            // Cleared before the hook runs, so a throwing network send leaves the writer aligned.
            const uint8_t byte = accumulator_;
            accumulator_ = 0;
            bitCount_ = 0;
            PutByteInternal(byte);
        }
    }
}

void BitstreamWriter::SetPosition(size_t offset) {
    position_ = std::min(offset, target_.size());
}

void BitstreamWriter::SeekToEnd() {
    position_ = target_.size();
}

void BitstreamWriter::RequireAligned() const {
    if (bitCount_ != 0) {
        throw std::runtime_error("bitstream writer is not aligned");
    }
}

}  // namespace pelmar::live
