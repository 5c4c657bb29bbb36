#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <vector>

// BitstreamWriter: writes big-endian bit fields and whole bytes into a caller's byte vector, the
// primitive under every AMF0, RTMP and FLV encoder of the streaming library.
// Ownership: refers to the vector it is given and never owns it; the vector must outlive the
//     writer.
// Threads: thread-compatible; nobody else may touch the vector while the writer is in use.
// Errors: std::runtime_error "bitstream writer is not aligned" when a byte operation is called
//     while bits of an unfinished byte are pending (state unchanged); std::invalid_argument for a
//     bit count above 64; growing the vector may throw std::bad_alloc / std::length_error.

namespace pelmar::live {

class BitstreamWriter {
public:
    // The position starts at byte 0: bytes already in `target` are overwritten until SeekToEnd().
    explicit BitstreamWriter(std::vector<uint8_t>& target);

    virtual ~BitstreamWriter() = default;

    BitstreamWriter(const BitstreamWriter&) = delete;
    BitstreamWriter& operator=(const BitstreamWriter&) = delete;

    // Stores one whole byte at the position (appending at the end) and advances. Every byte of
    // PutByte and PutBits passes through here; network variants override it.
    virtual void PutByteInternal(uint8_t byte);

    void PutByte(uint8_t byte);

    // Writes the low `count` bits of `value`, most significant first; 0 writes nothing. A partial
    // byte stays pending until later bits complete it; it is never flushed on its own.
    void PutBits(uint64_t value, uint8_t count);

    // Copies [first, last) at the position in one block, overwriting and then appending; the vector
    // grows at most once. The range must not point into the target vector.
    template <typename ForwardIt>
    void PutBytes(ForwardIt first, ForwardIt last);

    // Byte offset from the start of the vector; pending bits are not counted.
    size_t Position() const { return position_; }

    // Clamped to the vector's size.
    void SetPosition(size_t offset);

    void SeekToEnd();

private:
    void RequireAligned() const;

    std::vector<uint8_t>& target_;
    size_t position_ = 0;
    uint8_t accumulator_ = 0;
    uint8_t bitCount_ = 0;
};

template <typename ForwardIt>
void BitstreamWriter::PutBytes(ForwardIt first, ForwardIt last) {
    RequireAligned();
    const auto count = static_cast<size_t>(std::distance(first, last));
    const size_t overwrite = std::min(count, target_.size() - position_);
    ForwardIt split = std::next(first, static_cast<std::ptrdiff_t>(overwrite));
    std::copy(first, split, target_.begin() + static_cast<std::ptrdiff_t>(position_));
    // Appending the rest copies it straight into the grown storage, without zero-filling first.
    target_.insert(target_.end(), split, last);
    position_ += count;
}

}  // namespace pelmar::live
