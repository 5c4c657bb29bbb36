#include "pelmar/editor/RangeSliderTrackLayer.h"

#include "pelmar/editor/RangeSlider.h"

namespace pelmar {

void RangeSliderTrackLayer::drawInContext(ui::GraphicsContext& context) {
    auto slider = rangeSlider.lock();
    if (!slider) {
        return;
    }
    const ui::Rect b = bounds();
    context.setFillColor(slider->trackTintColor());
    context.fillRect(b, b.height * slider->curvaceousness() / 2);
    const double lower = slider->positionForValue(slider->lowerValue());
    const double upper = slider->positionForValue(slider->upperValue());
    context.setFillColor(slider->trackHighlightTintColor());
    context.fillRect(ui::Rect{lower, 0, upper - lower, b.height});
}

}  // namespace pelmar
