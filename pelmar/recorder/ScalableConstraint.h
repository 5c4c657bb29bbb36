#pragma once

#include <memory>
#include <string_view>

#include "pelmar/platform/ui/LayoutConstraint.h"

namespace pelmar {

// ScalableConstraint: a layout constraint whose constant is a base value times a scale: after
// every change of `scale` or `basicConstant` (by setter or by key), constant = scale() *
// basicConstant(), read through the getters so that a subclass overriding one takes part.
// Setting the constant directly leaves both properties as they are.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: setValue() returns false for an unknown key.
class ScalableConstraint : public ui::LayoutConstraint {
public:
    // scale 1.0 and basicConstant 1.0 (the constant itself is left at 0 until one changes).
    ScalableConstraint() = default;

    // As an interface file makes it: both properties 0 until the file sets them.
    static std::shared_ptr<ScalableConstraint> fromInterfaceFile();

    virtual double scale() const { return scale_; }

    void setScale(double scale);

    virtual double basicConstant() const { return basicConstant_; }

    void setBasicConstant(double basicConstant);

    // Also takes "scale" and "basicConstant".
    bool setValue(std::string_view key, double value) override;

private:
    void update() { setConstant(scale() * basicConstant()); }

    double scale_ = 1.0;
    double basicConstant_ = 1.0;
};

}  // namespace pelmar
