#include "pelmar/platform/ui/LayoutConstraint.h"

namespace pelmar::ui {

LayoutConstraint::~LayoutConstraint() = default;

bool LayoutConstraint::setValue(std::string_view key, double value) {
    if (key == "constant") {
        setConstant(value);
        return true;
    }
    return false;
}

}  // namespace pelmar::ui
