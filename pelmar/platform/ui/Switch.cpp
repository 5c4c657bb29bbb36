#include "pelmar/platform/ui/Switch.h"

#include <algorithm>

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

namespace {

constexpr Color kOnTrackColor{0.2, 0.78, 0.35, 1};
// A faint grey wash rather than an opaque grey, so the white thumb stands out on light bars as
// well as on white.
constexpr Color kOffTrackColor{0.47, 0.47, 0.5, 0.2};
// The thumb sits this far inside the track.
constexpr double kThumbInset = 2;

}  // namespace

void Switch::setOn(bool on) {
    internal::assertMainThread("Switch::setOn");
    on_ = on;
}

bool Switch::toggle() {
    return !ui::tap(*this).has_value();
}

void Switch::touchUpInside() {
    on_ = !on_;
    sendActions(ControlEvent::ValueChanged);
}

void Switch::draw(GraphicsContext& context) {
    const Size size = bounds().size();
    const Rect track{0, 0, std::min(kWidth, size.width), std::min(kHeight, size.height)};
    if (track.width <= 0 || track.height <= 0) {
        return;
    }
    context.setFillColor(on_ ? onTintColor_.value_or(kOnTrackColor) : kOffTrackColor);
    context.fillRect(track, track.height / 2);
    const double side = std::max(0.0, std::min(track.width, track.height) - 2 * kThumbInset);
    const double x = on_ ? track.x + track.width - kThumbInset - side : track.x + kThumbInset;
    const Rect thumb{x, track.y + kThumbInset, side, side};
    context.setFillColor(Color::white());
    context.fillRect(thumb, side / 2);
    context.setStrokeColor(Color{0, 0, 0, 0.15});
    context.setLineWidth(0.5);
    context.strokeRect(thumb, side / 2);
}

}  // namespace pelmar::ui
