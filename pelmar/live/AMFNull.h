#pragma once

#include "pelmar/live/AMFValue.h"

// AMFNull: the AMF0 null (type 5); an undefined value (marker 6) also reads as one.
// Ownership: plain value, held through std::shared_ptr<AMFValue>.
// Threads: thread-compatible.
// Errors: none of its own.

namespace pelmar::live {

class AMFNull : public AMFValue {
public:
    AMFNull() = default;

    void ReadImpl(BitstreamReader&) override {}

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::Null; }

    std::string ToStringImpl() const override { return "NULL"; }
};

}  // namespace pelmar::live
