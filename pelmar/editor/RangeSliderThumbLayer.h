#pragma once

#include <memory>

#include "pelmar/editor/SliderLayer.h"
#include "pelmar/platform/ui/Color.h"

// RangeSliderThumbLayer: one thumb of a RangeSlider: a rounded box in the slider's thumb colour,
// outlined, and shaded while grabbed (highlighted).
// Ownership: owned by its slider, which it refers to weakly; without a slider it draws nothing.
// Threads: main thread only.
// Errors: none.

namespace pelmar {

class RangeSlider;

class RangeSliderThumbLayer : public SliderLayer {
public:
    // Each setter asks for a redraw.
    bool highlighted() const { return highlighted_; }

    void setHighlighted(bool highlighted);

    ui::Color strokeColor() const { return strokeColor_; }

    void setStrokeColor(ui::Color color);

    double lineWidth() const { return lineWidth_; }

    void setLineWidth(double width);

    std::weak_ptr<RangeSlider> rangeSlider;

    void drawInContext(ui::GraphicsContext& context) override;

private:
    bool highlighted_ = false;
    ui::Color strokeColor_ = ui::Color{0.5, 0.5, 0.5, 1};
    double lineWidth_ = 0.5;
};

}  // namespace pelmar
