#include "pelmar/audio/internal/AudioScreenParts.h"

#include <utility>

namespace pelmar::audio::internal {

ControlArea makeControlArea(ui::Rect frame, ui::Color colour, std::function<void()> action) {
    ControlArea area;
    area.container = std::make_shared<ui::View>(frame);
    const double inset = frame.width / 4;
    area.image = std::make_shared<ui::ImageView>(
            ui::Rect{inset, inset, frame.width - 2 * inset, frame.height - 2 * inset});
    area.button = std::make_shared<ui::Button>(ui::Rect{0, 0, frame.width, frame.height});
    area.container->addSubview(area.image);
    area.container->addSubview(area.button);
    area.container->layer()->setBackgroundColor(colour);
    area.container->layer()->setCornerRadius(frame.width / 2);
    area.button->addTarget(ui::ControlEvent::TouchUpInside, std::move(action));
    return area;
}

}  // namespace pelmar::audio::internal
