#include "pelmar/live/AMFObject.h"

#include <stdexcept>

namespace pelmar::live {

namespace {

// Containers met on the way down from the outermost value, per thread: decoding hostile input and
// writing or printing a tree that contains itself must fail rather than exhaust the stack.
thread_local int nestingDepth = 0;

class NestingGuard {
public:
    NestingGuard() {
        if (nestingDepth >= AMFValue::kMaxNestingDepth) {
            throw std::runtime_error("AMF nesting too deep");
        }
        ++nestingDepth;
    }

    ~NestingGuard() { --nestingDepth; }

    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

constexpr uint8_t kObjectEndMarker = 0x09;

}  // namespace

void AMFObject::AddValue(std::string name, std::shared_ptr<AMFValue> value) {
    members_.insert_or_assign(std::move(name), std::move(value));
}

std::shared_ptr<AMFValue> AMFObject::GetValue(const std::string& name) const {
    const auto it = members_.find(name);
    return it == members_.end() ? nullptr : it->second;
}

std::string AMFObject::ReadFieldName(BitstreamReader& reader) {
    std::string name = ReadShortString(reader);
    if (!name.empty()) {
        return name;
    }
    RequireBytes(reader, 1);
    if (reader.GetByte() != kObjectEndMarker) {
        throw std::runtime_error("empty name found without end object marker");
    }
    return name;
}

void AMFObject::WriteFieldName(BitstreamWriter& writer, const std::string& name) {
    WriteShortString(writer, name);
}

void AMFObject::ReadImpl(BitstreamReader& reader) {
    ReadMembers(reader);
}

void AMFObject::WriteImpl(BitstreamWriter& writer) const {
    writer.PutByte(static_cast<uint8_t>(AMFType::Object));
    WriteMembers(writer);
}

std::string AMFObject::ToStringImpl() const {
    return MembersToString("OBJECT: {\n");
}

void AMFObject::ReadMembers(BitstreamReader& reader) {
    const NestingGuard guard;
    for (;;) {
        std::string name = ReadFieldName(reader);
        if (name.empty()) {
            return;
        }
        AddValue(std::move(name), ReadValue(reader));
    }
}

void AMFObject::WriteMembers(BitstreamWriter& writer) const {
    const NestingGuard guard;
    for (const auto& [name, value] : members_) {
        WriteFieldName(writer, name);
        if (value) {
            value->WriteImpl(writer);
        } else {
            writer.PutByte(static_cast<uint8_t>(AMFType::Null));
        }
    }
    const uint8_t end[3] = {0, 0, kObjectEndMarker};
    writer.PutBytes(end, end + sizeof end);
}

std::string AMFObject::MembersToString(const char* opening) const {
    const NestingGuard guard;
    std::string text = opening;
    for (const auto& [name, value] : members_) {
        text += name;
        text += ' ';
        text += value ? value->ToStringImpl() : "NULL";
        text += '\n';
    }
    text += '}';
    return text;
}

}  // namespace pelmar::live
