#pragma once

#include <string>
#include <utility>

#include "pelmar/live/AMFValue.h"

// AMFString: an AMF0 short string (type 2): bytes with a 16-bit length, no character-set handling.
// Ownership: plain value, held through std::shared_ptr<AMFValue>.
// Threads: thread-compatible.
// Errors: as AMFValue; writing a value over kMaxStringLength bytes throws "AMF string too long"
//         before anything is written.
// Limits: kMaxStringLength bytes.

namespace pelmar::live {

class AMFString : public AMFValue {
public:
    explicit AMFString(std::string value = {}) : value_(std::move(value)) {}

    std::string Value() const { return value_; }

    void SetValue(std::string value) { value_ = std::move(value); }

    void ReadImpl(BitstreamReader& reader) override;

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::String; }

    std::string ToStringImpl() const override;

private:
    std::string value_;
};

}  // namespace pelmar::live
