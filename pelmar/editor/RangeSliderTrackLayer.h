#pragma once

#include <memory>

#include "pelmar/editor/SliderLayer.h"

// RangeSliderTrackLayer: the track of a RangeSlider: a rounded bar in the track colour with the
// selected range between the two thumbs' centres in the highlight colour.
// Ownership: owned by its slider, which it refers to weakly; without a slider it draws nothing.
// Threads: main thread only.
// Errors: none.

namespace pelmar {

class RangeSlider;

class RangeSliderTrackLayer : public SliderLayer {
public:
    std::weak_ptr<RangeSlider> rangeSlider;

    void drawInContext(ui::GraphicsContext& context) override;
};

}  // namespace pelmar
