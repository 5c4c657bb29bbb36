#include "pelmar/platform/ui/Button.h"

#include <algorithm>
#include <utility>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/CairoContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

std::shared_ptr<const Image> Button::image(ControlState state) const {
    auto it = images_.find(state);
    return it == images_.end() ? nullptr : it->second;
}

void Button::setImage(std::shared_ptr<const Image> image, ControlState state) {
    internal::assertMainThread("Button::setImage");
    images_[state] = std::move(image);
    placeImageView();
}

void Button::setTitle(std::string title) {
    internal::assertMainThread("Button::setTitle");
    title_ = std::move(title);
    placeImageView();
}

void Button::setSemanticContentAttribute(SemanticContentAttribute attribute) {
    semantic_ = attribute;
    placeImageView();
}

const std::shared_ptr<ImageView>& Button::imageView() {
    if (!imageView_) {
        imageView_ = std::make_shared<ImageView>();
        imageView_->setUserInteractionEnabled(false);
    }
    // The state may have changed the current image since the last layout.
    placeImageView();
    return imageView_;
}

Size Button::titleSize() const {
    if (title_.empty()) {
        return {};
    }
    // Measured as the painter lays text out: one line in the title's font.
    TextStyle style;
    style.font = titleFont_;
    style.numberOfLines = 1;
    return measureLaidOutText(title_, style, 0);
}

Size Button::sizeThatFits() const {
    const Size title = titleSize();
    const auto image = currentImage();
    const Size picture = image ? Size{image->width(), image->height()} : Size{};
    return {title.width + picture.width, std::max(title.height, picture.height)};
}

void Button::sizeToFit() {
    const Rect f = frame();
    const Size size = sizeThatFits();
    setFrame({f.x, f.y, size.width, size.height});
    placeImageView();
}

void Button::layoutSubviews() {
    Control::layoutSubviews();
    placeImageView();
}

void Button::placeImageView() {
    if (!imageView_) {
        return;
    }
    const auto image = currentImage();
    if (imageView_->image() != image) {
        imageView_->setImage(image);
    }
    const Rect b = bounds();
    Size picture = image ? Size{image->width(), image->height()} : Size{};
    if (picture.width > b.width || picture.height > b.height) {
        // A picture larger than the button is shrunk, with its aspect, to fit.
        picture = placeContent(ContentMode::ScaleAspectFit, b, picture).size();
    }
    const double titleWidth = std::min(titleSize().width, std::max(0.0, b.width - picture.width));
    const double start = b.x + (b.width - picture.width - titleWidth) / 2;
    const bool imageLast = semantic_ == SemanticContentAttribute::ForceRightToLeft;
    const double x = imageLast ? start + titleWidth : start;
    // The frame is set through the bounds and centre so the transform stays.
    imageView_->setBounds({0, 0, picture.width, picture.height});
    imageView_->setCenter(
            {x + picture.width / 2, b.y + (b.height - picture.height) / 2 + picture.height / 2});
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
    const auto first = [this](std::initializer_list<ControlState> states) {
        for (auto state : states) {
            if (auto found = image(state)) {
                return found;
            }
        }
        return std::shared_ptr<const Image>();
    };
    if (!isEnabled()) {
        return first({ControlState::Disabled, ControlState::Normal});
    }
    if (isHighlighted()) {
        return first({ControlState::Highlighted, ControlState::Normal});
    }
    if (isSelected()) {
        return first({ControlState::Selected, ControlState::Normal});
    }
    return first({ControlState::Normal});
}

bool Button::tap() {
    return !ui::tap(*this).has_value();
}

}  // namespace pelmar::ui
