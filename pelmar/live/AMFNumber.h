#pragma once

#include "pelmar/live/AMFValue.h"

// AMFNumber: an AMF0 number (IEEE-754 double, type 0).
// Ownership: plain value, held through std::shared_ptr<AMFValue>.
// Threads: thread-compatible.
// Errors: as AMFValue ("AMF data truncated" when fewer than 8 bytes remain).

namespace pelmar::live {

class AMFNumber : public AMFValue {
public:
    explicit AMFNumber(double value = 0.0) : value_(value) {}

    double Value() const { return value_; }

    void SetValue(double value) { value_ = value; }

    void ReadImpl(BitstreamReader& reader) override;

    void WriteImpl(BitstreamWriter& writer) const override;

    AMFType GetTypeImpl() const override { return AMFType::Number; }

    std::string ToStringImpl() const override;

private:
    double value_;
};

}  // namespace pelmar::live
