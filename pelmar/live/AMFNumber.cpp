#include "pelmar/live/AMFNumber.h"

#include <bit>
#include <cstdint>

namespace pelmar::live {

void AMFNumber::ReadImpl(BitstreamReader& reader) {
    RequireBytes(reader, 8);
    value_ = std::bit_cast<double>(reader.GetBits(64));
}

void AMFNumber::WriteImpl(BitstreamWriter& writer) const {
    const auto bits = std::bit_cast<uint64_t>(value_);
    uint8_t bytes[9] = {static_cast<uint8_t>(AMFType::Number)};
    for (int i = 0; i < 8; ++i) {
        bytes[1 + i] = static_cast<uint8_t>(bits >> (8 * (7 - i)));
    }
    writer.PutBytes(bytes, bytes + sizeof bytes);
}

std::string AMFNumber::ToStringImpl() const {
    return "NUMBER: " + std::to_string(value_);
}

}  // namespace pelmar::live
