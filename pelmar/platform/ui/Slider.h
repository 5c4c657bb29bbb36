#pragma once

#include <map>
#include <memory>
#include <optional>

#include "pelmar/platform/foundation/Observable.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::ui {

// Slider: a control that picks a value between a minimum and a maximum by a thumb along a
// track. A finger that drags the thumb makes the slider track (isTracking true), moves the value
// and sends ValueChanged (while it moves when continuous, else once at the end); dragTo() plays
// that gesture. The track is painted in two parts, left of the thumb with the minimum track
// image or tint, right of it with the maximum ones; the thumb is its image for the state, or a
// white disc with a soft shadow without one.
// Ownership: reference object made with std::make_shared; holds its images.
// Threads: main thread only; in debug builds the mutators abort with a message off it.
// Errors: none; values are clamped to [minimumValue, maximumValue], NaN counts as the minimum.
class Slider : public Control {
public:
    // The height of the platform's own track.
    static constexpr double kTrackHeight = 2;

    using Control::Control;

    float value() const { return value_; }

    void setValue(float value);

    float minimumValue() const { return minimumValue_; }

    // Also raises the maximum (and the value) when they are below it.
    void setMinimumValue(float value);

    float maximumValue() const { return maximumValue_; }

    // Also lowers the minimum (and the value) when they are above it.
    void setMaximumValue(float value);

    bool isContinuous() const { return continuous_; }

    void setContinuous(bool continuous) { continuous_ = continuous; }

    // True while a finger drags the thumb; observers hear each change.
    bool isTracking() const { return tracking.get(); }

    foundation::Observable<bool> tracking{false};

    std::optional<Color> minimumTrackTintColor() const { return minimumTrackTintColor_; }

    void setMinimumTrackTintColor(std::optional<Color> color) { minimumTrackTintColor_ = color; }

    std::optional<Color> maximumTrackTintColor() const { return maximumTrackTintColor_; }

    void setMaximumTrackTintColor(std::optional<Color> color) { maximumTrackTintColor_ = color; }

    std::shared_ptr<const Image> thumbImage(ControlState state) const;

    void setThumbImage(std::shared_ptr<const Image> image, ControlState state);

    std::shared_ptr<const Image> minimumTrackImage() const { return minimumTrackImage_; }

    void setMinimumTrackImage(std::shared_ptr<const Image> image) {
        minimumTrackImage_ = std::move(image);
    }

    std::shared_ptr<const Image> maximumTrackImage() const { return maximumTrackImage_; }

    void setMaximumTrackImage(std::shared_ptr<const Image> image) {
        maximumTrackImage_ = std::move(image);
    }

    // The track for `bounds`: full width, kTrackHeight high, centred vertically.
    virtual Rect trackRect(Rect bounds) const;

    // The thumb's frame for `value` on `track` (its image's size, or 28 x 28 without one).
    Rect thumbRect(Rect bounds, Rect track, float value) const;

    // A finger drags the thumb to `value`: tracking starts, the value moves, ValueChanged goes
    // out, tracking ends. Ignored when the slider is disabled.
    void dragTo(float value);

    void draw(GraphicsContext& context) override;

protected:
    std::string className() const override { return "Slider"; }

private:
    // The thumb image for the state (highlighted while tracking), else the normal one.
    std::shared_ptr<const Image> currentThumbImage() const;

    float value_ = 0;
    float minimumValue_ = 0;
    float maximumValue_ = 1;
    bool continuous_ = true;
    std::optional<Color> minimumTrackTintColor_;
    std::optional<Color> maximumTrackTintColor_;
    std::map<ControlState, std::shared_ptr<const Image>> thumbImages_;
    std::shared_ptr<const Image> minimumTrackImage_;
    std::shared_ptr<const Image> maximumTrackImage_;
};

}  // namespace pelmar::ui
