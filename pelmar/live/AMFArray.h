#pragma once

#include "pelmar/live/AMFObject.h"

// AMFArray: an AMF0 ECMA array (type 8): named members like an object, written with their count;
// the count read from the wire is not trusted (the end-of-object marker ends the array).
// Ownership: as AMFObject.
// Threads: thread-compatible.
// Errors: as AMFObject.
// Limits: as AMFObject.

namespace pelmar::live {

class AMFArray : public AMFObject {
public:
    AMFArray() = default;

    void ReadImpl(BitstreamReader& reader) override;

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::EcmaArray; }

    std::string ToStringImpl() const override;
};

}  // namespace pelmar::live
