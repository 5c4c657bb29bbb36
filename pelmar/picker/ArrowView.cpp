#include "pelmar/picker/ArrowView.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Snapshot.h"

namespace pelmar {

ui::Rect ArrowView::apply(ResizingBehavior behavior, ui::Rect rect, ui::Rect target) {
    if (rect == target || target == ui::Rect{} || rect.width == 0 || rect.height == 0) {
        return rect;
    }
    double sx = std::abs(target.width / rect.width);
    double sy = std::abs(target.height / rect.height);
    switch (behavior) {
        case ResizingBehavior::AspectFit:
            sx = sy = std::min(sx, sy);
            break;
        case ResizingBehavior::AspectFill:
            sx = sy = std::max(sx, sy);
            break;
        case ResizingBehavior::Stretch:
            break;
        case ResizingBehavior::Center:
            sx = sy = 1;
            break;
    }
    const double width = std::abs(rect.width) * sx;
    const double height = std::abs(rect.height) * sy;
    return {target.x + (target.width - width) * 0.5, target.y + (target.height - height) * 0.5,
            width, height};
}

ArrowView::ArrowView(ui::Rect frame) : View(frame) {}

std::vector<ui::Point> ArrowView::chevronPath() {
    return {{0, 2}, {4, 6}, {8, 2}};
}

void ArrowView::draw(ui::GraphicsContext& context) {
    const ui::Rect box = apply(resizing_, {0, 0, 8, 8}, bounds());
    context.saveState();
    context.translate(box.x, box.y);
    context.concat(ui::AffineTransform::scale(box.width / 8, box.height / 8));
    context.setStrokeColor(strokeColor_);
    context.setFillColor(ui::Color::white());
    context.setLineWidth(2);
    const auto points = chevronPath();
    context.moveTo(points[0]);
    for (std::size_t i = 1; i < points.size(); ++i) {
        context.lineTo(points[i]);
    }
    context.strokePath();
    context.restoreState();
}

std::shared_ptr<const ui::Image> ArrowView::asImage() {
    auto bitmap = ui::render(*this, ui::Screen::main().scale());
    return bitmap ? ui::Image::fromBitmap(std::move(bitmap)) : nullptr;
}

}  // namespace pelmar
