#include "pelmar/platform/ui/Button.h"

#include <utility>

namespace pelmar::ui {

std::shared_ptr<const Image> Button::image(ControlState state) const {
    auto it = images_.find(state);
    return it == images_.end() ? nullptr : it->second;
}

void Button::setImage(std::shared_ptr<const Image> image, ControlState state) {
    images_[state] = std::move(image);
}

std::shared_ptr<const Image> Button::currentImage() const {
    if (isSelected()) {
        if (auto selected = image(ControlState::Selected)) {
            return selected;
        }
    }
    return image(ControlState::Normal);
}

bool Button::tap() {
    if (!isEnabled() || isHidden()) {
        return false;
    }
    sendActions(ControlEvent::TouchUpInside);
    return true;
}

}  // namespace pelmar::ui
