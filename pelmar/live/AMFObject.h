#pragma once

#include <map>
#include <memory>
#include <string>

#include "pelmar/live/AMFValue.h"

// AMFObject: an AMF0 anonymous object (type 3): named members kept, written and printed in
// ascending byte order of their names; adding an existing name replaces its value.
// Ownership: owns its members through std::shared_ptr; an empty member pointer stands for null.
//            A value tree must not contain itself: writing or printing such a tree fails with
//            "AMF nesting too deep" (and the cycle leaks, as any std::shared_ptr cycle).
// Threads: thread-compatible.
// Errors: as AMFValue; member names over kMaxStringLength bytes throw "AMF string too long" when
//         written.
// Limits: kMaxNestingDepth nested containers; names of kMaxStringLength bytes.

namespace pelmar::live {

class AMFObject : public AMFValue {
public:
    using Members = std::map<std::string, std::shared_ptr<AMFValue>>;

    AMFObject() = default;

    // Inserts, or replaces the value of an existing name.
    void AddValue(std::string name, std::shared_ptr<AMFValue> value);

    // The member's value, or an empty pointer when the name is absent.
    std::shared_ptr<AMFValue> GetValue(const std::string& name) const;

    const Members& Values() const { return members_; }

    // A member name; the empty string at the end-of-object marker (empty name followed by 0x09).
    static std::string ReadFieldName(BitstreamReader& reader);

    static void WriteFieldName(BitstreamWriter& writer, const std::string& name);

    void ReadImpl(BitstreamReader& reader) override;

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::Object; }

    std::string ToStringImpl() const override;

protected:
    // The member loop up to and including the end-of-object marker.
    void ReadMembers(BitstreamReader& reader);

    // Every member, then the end-of-object marker.
    void WriteMembers(BitstreamWriter& writer) const;

    // `opening`, one line per member, then "}".
    std::string MembersToString(const char* opening) const;

private:
    Members members_;
};

}  // namespace pelmar::live
