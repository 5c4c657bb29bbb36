#pragma once

#include <memory>

#include "pelmar/editor/RangeSliderThumbLayer.h"
#include "pelmar/editor/RangeSliderTrackLayer.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Control.h"

// RangeSlider: a horizontal control with two thumbs that select a lower and an upper value
// between a minimum and a maximum. A finger on a thumb drags it, and the thumb stays under the
// finger (positions map to values as the thumbs are drawn); every move sends ValueChanged.
// Dragging keeps the lower value at least gapBetweenThumbs() below the upper one and both inside
// the limits; values assigned from outside are taken as they are. Drawn with a track layer and two
// thumb layers (the upper on top).
// Ownership: made with create(); owns its three layers, which refer back to it weakly.
// Threads: main thread only.
// Errors: none. Degenerate geometry (maximum equal to minimum, a width not above the thumb width)
// never produces NaN: positions fall on the first thumb place, the gap is 0 (for a zero width) and
// drags do not move the thumbs.

namespace pelmar {

class RangeSlider : public ui::Control {
public:
    static constexpr double kThumbWidth = 13.0;
    static constexpr double kThumbHeight = 50.0;
    static constexpr double kThumbTop = -5.0;

    static std::shared_ptr<RangeSlider> create(ui::Rect frame);

    // Use create(): the layers need the slider's shared owner.
    explicit RangeSlider(ui::Rect frame) : ui::Control(frame) {}

    // True when the last grabbed thumb was the lower one.
    bool lowerLayerSelected = false;

    double minimumValue() const { return minimumValue_; }

    double maximumValue() const { return maximumValue_; }

    double lowerValue() const { return lowerValue_; }

    double upperValue() const { return upperValue_; }

    // Each moves the thumbs.
    void setMinimumValue(double value);

    void setMaximumValue(double value);

    void setLowerValue(double value);

    void setUpperValue(double value);

    // The least distance, in values, between the thumbs while dragging: thumb width x 0.6 x
    // (maximum - minimum) / bounds width.
    double gapBetweenThumbs() const;

    ui::Color trackTintColor() const { return trackTintColor_; }

    void setTrackTintColor(ui::Color color);

    ui::Color trackHighlightTintColor() const { return trackHighlightTintColor_; }

    void setTrackHighlightTintColor(ui::Color color);

    ui::Color thumbTintColor() const { return thumbTintColor_; }

    void setThumbTintColor(ui::Color color);

    ui::Color thumbBorderColor() const { return thumbBorderColor_; }

    // Copied into both thumbs' stroke colour.
    void setThumbBorderColor(ui::Color color);

    double thumbBorderWidth() const { return thumbBorderWidth_; }

    // Copied into both thumbs' line width.
    void setThumbBorderWidth(double width);

    double curvaceousness() const { return curvaceousness_; }

    // Clamped into [0, 1]; redraws all three layers.
    void setCurvaceousness(double value);

    // The x coordinate of a thumb's centre for `value`.
    double positionForValue(double value) const;

    // min(max(value, lower), upper): `upper` when lower exceeds upper.
    static double boundValue(double value, double lower, double upper);

    // Places the track (the middle third of the height) and the thumbs at their values.
    void updateLayerFrames();

    const RangeSliderTrackLayer& trackLayer() const { return *trackLayer_; }

    const RangeSliderThumbLayer& lowerThumbLayer() const { return *lowerThumbLayer_; }

    const RangeSliderThumbLayer& upperThumbLayer() const { return *upperThumbLayer_; }

    void draw(ui::GraphicsContext& context) override;

protected:
    bool beginTrackingTouch(const ui::Touch& touch) override;

    bool continueTrackingTouch(const ui::Touch& touch) override;

    void endTrackingTouch(const ui::Touch& touch) override;

    void layoutSubviews() override { updateLayerFrames(); }

    std::string className() const override { return "RangeSlider"; }

private:
    void initializeLayers();
    // The value whose thumb centre is at `x`: the inverse of positionForValue(). Needs a width
    // above the thumb width.
    double valueForPosition(double x) const;
    // Places the layers again when the bounds changed since they were last placed.
    void syncLayerFrames();

    double minimumValue_ = 0.0;
    double maximumValue_ = 100.0;
    double lowerValue_ = 0.0;
    double upperValue_ = 100.0;
    ui::Color trackTintColor_ = ui::Color::clear();
    ui::Color trackHighlightTintColor_ = ui::Color::clear();
    ui::Color thumbTintColor_ = ui::Color::white();
    ui::Color thumbBorderColor_ = ui::Color{0.5, 0.5, 0.5, 1};
    double thumbBorderWidth_ = 0.5;
    double curvaceousness_ = 1.0;
    ui::Point previousLocation_;
    // The finger's x minus the grabbed thumb's centre when the drag began.
    double grabOffset_ = 0;
    ui::Rect placedBounds_;
    const std::shared_ptr<RangeSliderTrackLayer> trackLayer_ =
            std::make_shared<RangeSliderTrackLayer>();
    const std::shared_ptr<RangeSliderThumbLayer> lowerThumbLayer_ =
            std::make_shared<RangeSliderThumbLayer>();
    const std::shared_ptr<RangeSliderThumbLayer> upperThumbLayer_ =
            std::make_shared<RangeSliderThumbLayer>();
};

}  // namespace pelmar
