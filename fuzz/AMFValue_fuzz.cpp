// Decodes AMF0 values one after another, as a command message body is read, and checks that
// whatever decodes also encodes, prints, and decodes again to the same encoding.
#include "pelmar/live/AMFValue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

using pelmar::live::AMFValue;
using pelmar::live::BitstreamReader;
using pelmar::live::BitstreamWriter;

namespace {

std::vector<uint8_t> Encode(const AMFValue& value) {
    std::vector<uint8_t> bytes;
    BitstreamWriter writer(bytes);
    value.WriteImpl(writer);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    BitstreamReader reader(input);
    std::vector<std::shared_ptr<AMFValue>> values;
    try {
        while (reader.RemainingDataSize() > 0) {
            values.push_back(AMFValue::ReadValue(reader));
        }
    } catch (const std::runtime_error&) {
        // Malformed input ends the body; what was read before stays valid.
    }
    for (const auto& value : values) {
        const auto once = Encode(*value);
        BitstreamReader again(once);
        const auto decoded = AMFValue::ReadValue(again);
        if (again.RemainingDataSize() != 0 || Encode(*decoded) != once
            || decoded->ToStringImpl() != value->ToStringImpl()) {
            std::abort();
        }
    }
    return 0;
}
