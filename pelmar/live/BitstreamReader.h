#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// BitstreamReader: reads big-endian bit fields and whole bytes from a caller's byte vector.
// Ownership: refers to the vector it is given and never owns it; the vector must outlive the
//     reader.
// Threads: thread-compatible.
// Errors: std::runtime_error "bitstream reader is not aligned" when a byte operation is called
//     while bits of a byte are still unread (state unchanged); std::invalid_argument for a bit
//     count above 64. Reading past the end is not an error: it yields zero bytes without
//     advancing, so callers that must detect truncation check RemainingDataSize() first.

namespace pelmar::live {

class BitstreamReader {
public:
    explicit BitstreamReader(const std::vector<uint8_t>& source);

    virtual ~BitstreamReader() = default;

    BitstreamReader(const BitstreamReader&) = delete;
    BitstreamReader& operator=(const BitstreamReader&) = delete;

    // The byte at the position, advancing by one; 0 without moving at the end. Every byte of
    // GetByte and GetBits comes through here; network variants override it.
    virtual uint8_t GetByteInternal();

    uint8_t GetByte();

    // Reads `count` bits (0 to 64), most significant first; unread bits stay for the next call.
    uint64_t GetBits(uint8_t count);

    // Copies min(count, RemainingDataSize()) bytes to `destination` in one block, then advances by
    // `count` (clamped to the end). Destination elements past the copied ones are left untouched.
    template <typename OutputIt>
    void GetBytes(OutputIt destination, size_t count);

    size_t Position() const { return position_; }

    // Clamped to the vector's size.
    void SetPosition(size_t offset);

    // Advances by `count`, stopping at the end.
    void Skip(size_t count);

    // Whole bytes left after the position; bits held from a partly read byte are not counted.
    size_t RemainingDataSize() const { return source_.size() - position_; }

private:
    void RequireAligned() const;

    const std::vector<uint8_t>& source_;
    size_t position_ = 0;
    uint8_t bitBuffer_ = 0;
    uint8_t bitsLeft_ = 0;
};

template <typename OutputIt>
void BitstreamReader::GetBytes(OutputIt destination, size_t count) {
    RequireAligned();
    const size_t available = std::min(count, RemainingDataSize());
    std::copy_n(source_.begin() + static_cast<std::ptrdiff_t>(position_), available, destination);
    Skip(count);
}

}  // namespace pelmar::live
