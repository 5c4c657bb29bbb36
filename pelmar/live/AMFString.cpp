#include "pelmar/live/AMFString.h"

#include <stdexcept>

namespace pelmar::live {

void AMFString::ReadImpl(BitstreamReader& reader) {
    value_ = ReadShortString(reader);
}

void AMFString::WriteImpl(BitstreamWriter& writer) const {
    if (value_.size() > kMaxStringLength) {
        throw std::runtime_error("AMF string too long");
    }
    writer.PutByte(static_cast<uint8_t>(AMFType::String));
    WriteShortString(writer, value_);
}

std::string AMFString::ToStringImpl() const {
    return "STRING: " + value_;
}

}  // namespace pelmar::live
