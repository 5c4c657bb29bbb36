#include "pelmar/platform/ui/Layer.h"

#include <algorithm>
#include <cmath>

namespace pelmar::ui {

Layer::~Layer() = default;

void Layer::setOpacity(double opacity) {
    opacity_ = std::isnan(opacity) ? 0.0 : std::clamp(opacity, 0.0, 1.0);
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) {
    insertSublayer(layer, sublayers_.size());
}

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index) {
    if (!layer) {
        return;
    }
    for (auto* up = this; up != nullptr; up = up->superlayer_.lock().get()) {
        if (up == layer.get()) {
            return;
        }
    }
    const auto keep = layer;
    keep->removeFromSuperlayer();
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superlayer_ = weak_from_this();
}

void Layer::removeFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) {
        return;
    }
    auto& siblings = parent->sublayers_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [this](const auto& sibling) { return sibling.get() == this; }),
                   siblings.end());
}

}  // namespace pelmar::ui
