#include "pelmar/live/AMFValue.h"

#include <stdexcept>

#include "pelmar/live/AMFArray.h"
#include "pelmar/live/AMFBoolean.h"
#include "pelmar/live/AMFNull.h"
#include "pelmar/live/AMFNumber.h"
#include "pelmar/live/AMFObject.h"
#include "pelmar/live/AMFString.h"

namespace pelmar::live {

std::shared_ptr<AMFValue> AMFValue::String(std::string value) {
    return std::make_shared<AMFString>(std::move(value));
}

std::shared_ptr<AMFValue> AMFValue::Bool(bool value) {
    return std::make_shared<AMFBoolean>(value);
}

std::shared_ptr<AMFValue> AMFValue::Number(double value) {
    return std::make_shared<AMFNumber>(value);
}

std::shared_ptr<AMFValue> AMFValue::Object() {
    return std::make_shared<AMFObject>();
}

std::shared_ptr<AMFValue> AMFValue::Array() {
    return std::make_shared<AMFArray>();
}

std::shared_ptr<AMFValue> AMFValue::Null() {
    return std::make_shared<AMFNull>();
}

std::shared_ptr<AMFValue> AMFValue::ReadValue(BitstreamReader& reader) {
    RequireBytes(reader, 1);
    std::shared_ptr<AMFValue> value;
    switch (reader.GetByte()) {
        case 0:
            value = std::make_shared<AMFNumber>();
            break;
        case 1:
            value = std::make_shared<AMFBoolean>();
            break;
        case 2:
            value = std::make_shared<AMFString>();
            break;
        case 3:
            value = std::make_shared<AMFObject>();
            break;
        case 5:
        case 6:  // undefined
            value = std::make_shared<AMFNull>();
            break;
        case 8:
            value = std::make_shared<AMFArray>();
            break;
        default:
            throw std::runtime_error("unknown AMF type");
    }
    value->ReadImpl(reader);
    return value;
}

void AMFValue::RequireBytes(const BitstreamReader& reader, size_t count) {
    if (reader.RemainingDataSize() < count) {
        throw std::runtime_error("AMF data truncated");
    }
}

std::string AMFValue::ReadShortString(BitstreamReader& reader) {
    RequireBytes(reader, 2);
    const auto length = static_cast<size_t>(reader.GetBits(16));
    RequireBytes(reader, length);
    std::string text(length, '\0');
    reader.GetBytes(text.begin(), length);
    return text;
}

void AMFValue::WriteShortString(BitstreamWriter& writer, const std::string& text) {
    if (text.size() > kMaxStringLength) {
        throw std::runtime_error("AMF string too long");
    }
    writer.PutBits(text.size(), 16);
    writer.PutBytes(text.data(), text.data() + text.size());
}

}  // namespace pelmar::live
