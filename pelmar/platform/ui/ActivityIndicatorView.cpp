#include "pelmar/platform/ui/ActivityIndicatorView.h"

#include <algorithm>
#include <numbers>

#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar::ui {

void ActivityIndicatorView::draw(GraphicsContext& context) {
    const Rect b = bounds();
    const double radius = std::min(b.width, b.height) / 2 - 2;
    if (radius <= 0) {
        return;
    }
    context.setStrokeColor(Color{0.5, 0.5, 0.5, 1});
    context.setLineWidth(3);
    const double top = -std::numbers::pi / 2;
    context.arc({b.width / 2, b.height / 2}, radius, top + 0.4, top + 2 * std::numbers::pi - 0.4);
    context.strokePath();
}

}  // namespace pelmar::ui
