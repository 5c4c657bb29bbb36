#include "pelmar/platform/ui/BarButtonItem.h"

#include "pelmar/platform/ui/Button.h"

namespace pelmar::ui {

namespace {

// The platform's play and pause items, drawn as templates in the bar's tint.
constexpr const char* kSystemPlayImage = "system-play";
constexpr const char* kSystemPauseImage = "system-pause";

void applyStyle(Button& button, BarButtonItem::Style style) {
    Font font = button.titleFont();
    font.weight = style == BarButtonItem::Style::Done ? FontWeight::Semibold : FontWeight::Regular;
    button.setTitleFont(std::move(font));
}

// The bar sizes its buttons to their titles.
void relayoutBar(Button& button) {
    if (auto bar = button.superview()) {
        bar->setNeedsLayout();
        bar->layoutIfNeeded();
    }
}

}  // namespace

BarButtonItem::BarButtonItem(SystemItem item, Action action)
    : action_(std::move(action)), systemItem_(item) {
    switch (item) {
        case SystemItem::Cancel:
            title_ = "Cancel";
            break;
        case SystemItem::Play:
            image_ = Image::asTemplate(Image::named(kSystemPlayImage));
            break;
        case SystemItem::Pause:
            image_ = Image::asTemplate(Image::named(kSystemPauseImage));
            break;
    }
}

void BarButtonItem::setStyle(Style style) {
    style_ = style;
    if (auto button = view_.lock()) {
        applyStyle(*button, style_);
        relayoutBar(*button);
    }
}

void BarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (auto button = view_.lock()) {
        button->setEnabled(enabled);
    }
}

void BarButtonItem::setTitle(std::string title) {
    title_ = std::move(title);
    if (auto button = view_.lock()) {
        button->setTitle(title_);
        relayoutBar(*button);
    }
}

std::shared_ptr<Button> BarButtonItem::makeButton() {
    auto button = std::make_shared<Button>();
    button->setTitle(title_);
    applyStyle(*button, style_);
    if (image_) {
        button->setImage(image_, ControlState::Normal);
    }
    button->setEnabled(enabled_);
    // The action is copied: the button works while the bar shows it, whatever happens to us.
    if (action_) {
        button->addTarget(ControlEvent::TouchUpInside, action_);
    }
    view_ = button;
    return button;
}

}  // namespace pelmar::ui
