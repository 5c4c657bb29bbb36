#include "pelmar/live/AMFBoolean.h"

namespace pelmar::live {

void AMFBoolean::ReadImpl(BitstreamReader& reader) {
    RequireBytes(reader, 1);
    value_ = reader.GetByte() != 0;
}

void AMFBoolean::WriteImpl(BitstreamWriter& writer) const {
    writer.PutByte(static_cast<uint8_t>(AMFType::Boolean));
    writer.PutByte(value_ ? 1 : 0);
}

std::string AMFBoolean::ToStringImpl() const {
    return value_ ? "BOOL: true" : "BOOL: false";
}

}  // namespace pelmar::live
