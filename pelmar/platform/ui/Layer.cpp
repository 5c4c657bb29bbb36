#include "pelmar/platform/ui/Layer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pelmar::ui {

Layer::~Layer() = default;

void Layer::setOpacity(double opacity) {
    opacity_ = std::isnan(opacity) ? 0.0 : std::clamp(opacity, 0.0, 1.0);
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
    insertSublayer(std::move(layer), sublayers_.size());
}

void Layer::insertSublayer(std::shared_ptr<Layer> layer, std::size_t index) {
    for (auto* up = this; up; up = up->superlayer_.lock().get()) {
        if (up == layer.get()) {
            return;
        }
    }
    layer->removeFromSuperlayer();
    // Taking it out of this layer may have moved the place asked for.
    index = std::min(index, sublayers_.size());
    layer->superlayer_ = weak_from_this();
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), std::move(layer));
}

void Layer::removeFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) {
        return;
    }
    auto& siblings = parent->sublayers_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [this](const auto& l) { return l.get() == this; }),
                   siblings.end());
}

void Layer::drawInContext(GraphicsContext& /*context*/, Rect /*bounds*/) {}

}  // namespace pelmar::ui
