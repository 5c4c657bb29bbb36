#include "pelmar/editor/RangeSliderThumbLayer.h"

#include "pelmar/editor/RangeSlider.h"

namespace pelmar {

void RangeSliderThumbLayer::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setNeedsDisplay();
}

void RangeSliderThumbLayer::setStrokeColor(ui::Color color) {
    strokeColor_ = color;
    setNeedsDisplay();
}

void RangeSliderThumbLayer::setLineWidth(double width) {
    lineWidth_ = width;
    setNeedsDisplay();
}

void RangeSliderThumbLayer::drawInContext(ui::GraphicsContext& context) {
    auto slider = rangeSlider.lock();
    if (!slider) {
        return;
    }
    const ui::Rect b = bounds();
    const ui::Rect box{b.x + 2, b.y + 2, b.width - 4, b.height - 4};
    const double radius = box.height * slider->curvaceousness() / 2;
    context.setFillColor(slider->thumbTintColor());
    context.fillRect(box, radius);
    context.setStrokeColor(strokeColor_);
    context.setLineWidth(lineWidth_);
    context.strokeRect(box, radius);
    if (highlighted_) {
        context.setFillColor(ui::Color{0, 0, 0, 0.1});
        context.fillRect(box, radius);
    }
}

}  // namespace pelmar
