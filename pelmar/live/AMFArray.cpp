#include "pelmar/live/AMFArray.h"

#include <cstdint>

namespace pelmar::live {

void AMFArray::ReadImpl(BitstreamReader& reader) {
    RequireBytes(reader, 4);
    reader.Skip(4);
    ReadMembers(reader);
}

void AMFArray::WriteImpl(BitstreamWriter& writer) const {
    writer.PutByte(static_cast<uint8_t>(AMFType::EcmaArray));
    writer.PutBits(static_cast<uint32_t>(Values().size()), 32);
    WriteMembers(writer);
}

std::string AMFArray::ToStringImpl() const {
    return MembersToString("ARRAY: {\n");
}

}  // namespace pelmar::live
