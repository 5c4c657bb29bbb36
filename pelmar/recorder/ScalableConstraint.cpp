#include "pelmar/recorder/ScalableConstraint.h"

namespace pelmar {

std::shared_ptr<ScalableConstraint> ScalableConstraint::fromInterfaceFile() {
    auto constraint = std::make_shared<ScalableConstraint>();
    constraint->scale_ = 0;
    constraint->basicConstant_ = 0;
    return constraint;
}

void ScalableConstraint::setScale(double scale) {
    scale_ = scale;
    update();
}

void ScalableConstraint::setBasicConstant(double basicConstant) {
    basicConstant_ = basicConstant;
    update();
}

bool ScalableConstraint::setValue(std::string_view key, double value) {
    if (key == "scale") {
        setScale(value);
        return true;
    }
    if (key == "basicConstant") {
        setBasicConstant(value);
        return true;
    }
    return LayoutConstraint::setValue(key, value);
}

}  // namespace pelmar
