#include "pelmar/platform/ui/Slider.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

namespace {

constexpr double kDefaultThumbSide = 28;

// The platform's own colours: a blue played part and a light grey rest.
constexpr Color kMinimumTrackColor{0.0, 0.48, 1.0, 1.0};
constexpr Color kMaximumTrackColor{0.9, 0.9, 0.92, 1.0};
constexpr Color kThumbShadowColor{0, 0, 0, 0.3};

}  // namespace

void Slider::setValue(float value) {
    internal::assertMainThread("Slider::setValue");
    if (std::isnan(value)) {
        value = minimumValue_;
    }
    value_ = std::clamp(value, minimumValue_, maximumValue_);
}

void Slider::setMinimumValue(float value) {
    internal::assertMainThread("Slider::setMinimumValue");
    if (std::isnan(value)) {
        return;
    }
    minimumValue_ = value;
    maximumValue_ = std::max(maximumValue_, value);
    value_ = std::clamp(value_, minimumValue_, maximumValue_);
}

void Slider::setMaximumValue(float value) {
    internal::assertMainThread("Slider::setMaximumValue");
    if (std::isnan(value)) {
        return;
    }
    maximumValue_ = value;
    minimumValue_ = std::min(minimumValue_, value);
    value_ = std::clamp(value_, minimumValue_, maximumValue_);
}

std::shared_ptr<const Image> Slider::thumbImage(ControlState state) const {
    const auto it = thumbImages_.find(state);
    return it == thumbImages_.end() ? nullptr : it->second;
}

void Slider::setThumbImage(std::shared_ptr<const Image> image, ControlState state) {
    thumbImages_[state] = std::move(image);
}

Rect Slider::trackRect(Rect bounds) const {
    return {bounds.x, bounds.y + (bounds.height - kTrackHeight) / 2, bounds.width, kTrackHeight};
}

std::shared_ptr<const Image> Slider::currentThumbImage() const {
    const auto image = thumbImage(isTracking() ? ControlState::Highlighted : ControlState::Normal);
    return image ? image : thumbImage(ControlState::Normal);
}

Rect Slider::thumbRect(Rect bounds, Rect track, float value) const {
    const auto shown = currentThumbImage();
    const double width = shown && shown->width() > 0 ? shown->width() : kDefaultThumbSide;
    const double height = shown && shown->height() > 0 ? shown->height() : kDefaultThumbSide;
    const double span = maximumValue_ - minimumValue_;
    const double fraction = span > 0 ? (value - minimumValue_) / span : 0;
    // The thumb's centre runs from the track's left end to its right end, inset by half a thumb.
    const double x = track.x + fraction * std::max(0.0, track.width - width);
    return {x, bounds.y + (bounds.height - height) / 2, width, height};
}

void Slider::dragTo(float value) {
    if (!isEnabled()) {
        return;
    }
    tracking.set(true);
    setValue(value);
    if (continuous_) {
        sendActions(ControlEvent::ValueChanged);
    }
    tracking.set(false);
    if (!continuous_) {
        sendActions(ControlEvent::ValueChanged);
    }
}

void Slider::draw(GraphicsContext& context) {
    const Rect b = Rect::of({}, bounds().size());
    const Rect track = trackRect(b);
    const Rect thumb = thumbRect(b, track, value_);
    const double split = thumb.x + thumb.width / 2;
    const Rect played{track.x, track.y, std::max(0.0, split - track.x), track.height};
    const Rect rest{split, track.y, std::max(0.0, track.x + track.width - split), track.height};
    const auto paintPart = [&](Rect part, const std::shared_ptr<const Image>& image, Color tint) {
        if (image && image->bitmap()) {
            context.drawBitmap(*image->bitmap(), part);
            return;
        }
        context.setFillColor(tint);
        // The platform's own track has round ends.
        context.fillRect(part, image ? 0 : part.height / 2);
    };
    paintPart(played, minimumTrackImage_, minimumTrackTintColor_.value_or(kMinimumTrackColor));
    paintPart(rest, maximumTrackImage_, maximumTrackTintColor_.value_or(kMaximumTrackColor));
    const auto image = currentThumbImage();
    if (image && image->bitmap()) {
        context.drawBitmap(*image->bitmap(), thumb);
        return;
    }
    // The platform's own thumb: a white disc lifted off the track by a soft shadow.
    context.saveState();
    context.setShadow(kThumbShadowColor, {0, 2}, 4);
    context.setFillColor(Color::white());
    context.fillRect(thumb, thumb.width / 2);
    context.restoreState();
    context.setStrokeColor(Color{0, 0, 0, 0.2});
    context.setLineWidth(0.5);
    context.strokeRect(thumb, thumb.width / 2);
}

}  // namespace pelmar::ui
