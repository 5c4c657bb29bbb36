#include "pelmar/live/AMFNull.h"

namespace pelmar::live {

void AMFNull::WriteImpl(BitstreamWriter& writer) const {
    writer.PutByte(static_cast<uint8_t>(AMFType::Null));
}

}  // namespace pelmar::live
