#include "pelmar/platform/ui/Layer.h"

#include <algorithm>
#include <cmath>

namespace pelmar::ui {

Layer::~Layer() = default;

void Layer::setOpacity(double opacity) {
    opacity_ = std::isnan(opacity) ? 0.0 : std::clamp(opacity, 0.0, 1.0);
}

}  // namespace pelmar::ui
