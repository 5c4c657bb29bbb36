#include "pelmar/platform/ui/GradientLayer.h"

#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar::ui {

void GradientLayer::draw(GraphicsContext& context, Rect bounds) {
    if (colors_.empty() || bounds.width <= 0 || bounds.height <= 0) {
        return;
    }
    LinearGradient gradient;
    gradient.start = {bounds.x + startPoint_.x * bounds.width,
                      bounds.y + startPoint_.y * bounds.height};
    gradient.end = {bounds.x + endPoint_.x * bounds.width, bounds.y + endPoint_.y * bounds.height};
    gradient.extendBeforeStart = gradient.extendAfterEnd = true;
    const std::size_t count =
            locations_.empty() ? colors_.size() : std::min(colors_.size(), locations_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double location = !locations_.empty() ? locations_[i]
                                : count > 1
                                        ? static_cast<double>(i) / static_cast<double>(count - 1)
                                        : 0.0;
        gradient.stops.push_back({location, colors_[i]});
    }
    context.saveState();
    context.clipToRect(bounds);
    context.drawLinearGradient(gradient);
    context.restoreState();
}

}  // namespace pelmar::ui
