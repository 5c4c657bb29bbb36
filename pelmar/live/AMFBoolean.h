#pragma once

#include "pelmar/live/AMFValue.h"

// AMFBoolean: an AMF0 boolean (type 1); any non-zero byte reads as true.
// Ownership: plain value, held through std::shared_ptr<AMFValue>.
// Threads: thread-compatible.
// Errors: as AMFValue ("AMF data truncated" when the byte is missing).

namespace pelmar::live {

class AMFBoolean : public AMFValue {
public:
    explicit AMFBoolean(bool value = false) : value_(value) {}

    bool Value() const { return value_; }

    void SetValue(bool value) { value_ = value; }

    void ReadImpl(BitstreamReader& reader) override;

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::Boolean; }

    std::string ToStringImpl() const override;

private:
    bool value_;
};

}  // namespace pelmar::live
