#include "pelmar/platform/ui/Button.h"

#include <utility>

#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

std::shared_ptr<const Image> Button::image(ControlState state) const {
    auto it = images_.find(state);
    return it == images_.end() ? nullptr : it->second;
}

void Button::setImage(std::shared_ptr<const Image> image, ControlState state) {
    internal::assertMainThread("Button::setImage");
    images_[state] = std::move(image);
}

void Button::setTitle(std::string title) {
    internal::assertMainThread("Button::setTitle");
    title_ = std::move(title);
}

Color Button::titleColor(ControlState state) const {
    if (auto it = titleColors_.find(state); it != titleColors_.end()) {
        return it->second;
    }
    if (auto it = titleColors_.find(ControlState::Normal); it != titleColors_.end()) {
        return it->second;
    }
    return Color::white();
}

void Button::setTitleColor(Color color, ControlState state) {
    internal::assertMainThread("Button::setTitleColor");
    titleColors_[state] = color;
}

Color Button::currentTitleColor() const {
    if (!isEnabled()) {
        return titleColor(ControlState::Disabled);
    }
    if (isHighlighted()) {
        return titleColor(ControlState::Highlighted);
    }
    return titleColor(isSelected() ? ControlState::Selected : ControlState::Normal);
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
    return !ui::tap(*this).has_value();
}

}  // namespace pelmar::ui
