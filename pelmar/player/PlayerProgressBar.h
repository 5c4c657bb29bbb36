#pragma once

#include <memory>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Slider.h"

// PlayerProgressBar: the player screen's position slider. It draws a round, bordered thumb, a
// track `barHeight` points high and, unless `roundedCorners` is set, a track with flat ends in
// two solid colours (played `minimumTintColor`, unplayed `maximumTintColor`). Its first draw, and
// the first after each setNeedsDisplay(), applies these settings to the slider, resets its value
// to 0 and makes it continuous before the track and thumb are painted; the owner moves the value
// again on its next update, and later draws show it.
// Ownership: reference object made with std::make_shared (a view); keeps its thumb image once
//     made.
// Threads: main thread only.
// Errors: none.

namespace pelmar {

class PlayerProgressBar : public ui::Slider {
public:
    using ui::Slider::Slider;

    // Sets five values and returns this bar, so that calls can be chained:
    // (thumbRadius, barHeight, minimumTintColor, maximumTintColor, roundedCorners).
    PlayerProgressBar& create(
            double radius, double height, ui::Color played, ui::Color unplayed, bool rounded);

    // The side of the thumb's square in points; the thumb is a circle of this diameter.
    double thumbRadius = 20.0;
    ui::Color thumbColor = ui::Color::white();
    ui::Color thumbBorderColor = ui::Color::black();
    double thumbBorderWidth = 1.0;
    double barHeight = 7.0;
    ui::Color minimumTintColor{0, 1, 1, 1};  // cyan
    ui::Color maximumTintColor = ui::Color::white();
    // True keeps the platform's own (rounded) track.
    bool roundedCorners = false;

    // The thumb image, painted from the four thumb values on first use and then kept: later
    // changes of those values do not change it.
    std::shared_ptr<const ui::Image> thumbView();

    // The platform's track for `bounds` with its height replaced by `barHeight` (not re-centred).
    ui::Rect trackRect(ui::Rect bounds) const override;

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "PlayerProgressBar"; }

private:
    // Sets the slider's tints, value, thumb and track images from the values above.
    void applyLook();

    std::shared_ptr<const ui::Image> thumbView_;
    bool thumbMade_ = false;
    bool displayed_ = false;
    int displayPass_ = 0;
};

}  // namespace pelmar
