#include "pelmar/player/PlayerProgressBar.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Snapshot.h"

namespace pelmar {

namespace {

// A one-pixel image of `color`: stretched along the track, it paints a flat-ended bar.
std::shared_ptr<const ui::Image> solidImage(ui::Color color) {
    auto bitmap = image::Bitmap::create(1, 1, image::PixelFormat::RGBA8);
    const auto channel = [&](double c) {
        return static_cast<uint8_t>(std::lround(std::clamp(c * color.alpha, 0.0, 1.0) * 255));
    };
    uint8_t* p = bitmap->row(0);
    p[0] = channel(color.red);
    p[1] = channel(color.green);
    p[2] = channel(color.blue);
    p[3] = static_cast<uint8_t>(std::lround(std::clamp(color.alpha, 0.0, 1.0) * 255));
    return ui::Image::fromBitmap(std::move(bitmap));
}

}  // namespace

PlayerProgressBar& PlayerProgressBar::create(
        double radius, double height, ui::Color played, ui::Color unplayed, bool rounded) {
    thumbRadius = radius;
    barHeight = height;
    minimumTintColor = played;
    maximumTintColor = unplayed;
    roundedCorners = rounded;
    return *this;
}

std::shared_ptr<const ui::Image> PlayerProgressBar::thumbView() {
    if (thumbMade_) {
        return thumbView_;
    }
    thumbMade_ = true;
    auto thumb = std::make_shared<ui::View>(ui::Rect{0, thumbRadius / 2, thumbRadius, thumbRadius});
    thumb->layer()->setBackgroundColor(thumbColor);
    thumb->layer()->setBorderWidth(thumbBorderWidth);
    thumb->layer()->setBorderColor(thumbBorderColor);
    thumb->layer()->setCornerRadius(thumbRadius / 2);
    // A thumb too small or too large to paint has no image; the slider then draws its own.
    if (auto bitmap = ui::render(*thumb)) {
        thumbView_ = ui::Image::fromBitmap(std::move(bitmap));
    }
    return thumbView_;
}

ui::Rect PlayerProgressBar::trackRect(ui::Rect bounds) const {
    ui::Rect track = ui::Slider::trackRect(bounds);
    track.height = barHeight;
    return track;
}

void PlayerProgressBar::draw(ui::GraphicsContext& context) {
    // The platform asks a view to draw on its first display and after setNeedsDisplay(), and
    // composes the slider's track and thumb after that: so the look is applied on those passes,
    // before the track and thumb are painted, and a paint in between shows the value the owner
    // has set since.
    if (!displayed_ || displayRequests() != displayPass_) {
        displayed_ = true;
        displayPass_ = displayRequests();
        applyLook();
    }
    ui::Slider::draw(context);
}

void PlayerProgressBar::applyLook() {
    setMinimumTrackTintColor(minimumTintColor);
    setMaximumTrackTintColor(maximumTintColor);
    setValue(0);
    setContinuous(true);
    const auto thumb = thumbView();
    setThumbImage(thumb, ui::ControlState::Normal);
    setThumbImage(thumb, ui::ControlState::Highlighted);
    if (!roundedCorners) {
        setMaximumTrackImage(solidImage(maximumTintColor));
        setMinimumTrackImage(solidImage(minimumTintColor));
    }
}

}  // namespace pelmar
