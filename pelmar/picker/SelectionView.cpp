#include "pelmar/picker/SelectionView.h"

#include <cmath>
#include <numbers>

namespace pelmar {

namespace {

// (1 - 1/sqrt(2)) / 2: insets the square inscribed in a circle.
constexpr double kInscribedInset = 0.1464466094067262;

}  // namespace

void CheckmarkView::draw(ui::GraphicsContext& context) {
    context.moveTo({7, 12.5});
    context.lineTo({11, 16});
    context.lineTo({17.5, 9.5});
    context.setLineWidth(1);
    context.strokePath();
}

void NumberView::draw(ui::GraphicsContext& context) {
    ui::TextStyle style;
    style.font = font();
    style.color = tint_;
    style.alignment = ui::TextAlignment::Center;
    context.drawText(text_, frame(), style);
}

void SelectionView::setSettings(std::shared_ptr<Settings> settings) {
    settings_ = std::move(settings);
    applyShadow();
}

void SelectionView::applyShadow() {
    if (!settings_) {
        return;
    }
    auto shadow = layer();
    shadow->setShadowColor(settings_->theme()->selectionShadowColor());
    shadow->setShadowOpacity(1);
    shadow->setShadowOffset(kShadowOffset);
    shadow->setShadowRadius(kShadowBlur);
}

void SelectionView::setSelectionIndex(std::optional<int64_t> index) {
    selectionIndex_ = index;
    auto number = std::dynamic_pointer_cast<NumberView>(icon());
    if (number && index) {
        number->setText(std::to_string(*index + 1));
        setNeedsDisplay();
    }
}

const std::shared_ptr<ui::View>& SelectionView::icon() {
    if (!icon_) {
        if (settings_
            && settings_->theme()->selectionStyle() == Settings::SelectionStyle::Numbered) {
            icon_ = std::make_shared<NumberView>();
        } else {
            icon_ = std::make_shared<CheckmarkView>();
        }
    }
    return icon_;
}

ui::Rect SelectionView::circleRect() const {
    const ui::Rect b = bounds();
    const ui::Rect r{b.x + 3, b.y + 3, b.width - 6, b.height - 6};
    return {r.x, r.y, std::floor(r.width + 0.5), std::floor(r.height + 0.5)};
}

ui::Rect SelectionView::iconRect() const {
    const ui::Rect b = bounds();
    const ui::Rect r{b.x + 3, b.y + 3, b.width - 6, b.height - 6};
    const double dx = r.width * kInscribedInset;
    const double dy = r.height * kInscribedInset;
    return {r.x + dx, r.y + dy, r.width - 2 * dx, r.height - 2 * dy};
}

void SelectionView::draw(ui::GraphicsContext& context) {
    if (!settings_) {
        return;
    }
    // The theme's shadow colour as it is now.
    applyShadow();
    auto theme = settings_->theme();
    const ui::Rect circle = circleRect();
    const ui::Point centre{circle.x + circle.width / 2, circle.y + circle.height / 2};
    const double radius = std::min(circle.width, circle.height) / 2;
    context.saveState();
    context.setFillColor(theme->selectionFillColor());
    context.arc(centre, radius, 0, 2 * std::numbers::pi);
    context.closePath();
    context.fillPath();
    context.restoreState();
    context.setStrokeColor(theme->selectionStrokeColor());
    context.setLineWidth(1);
    context.arc(centre, radius, 0, 2 * std::numbers::pi);
    context.closePath();
    context.strokePath();
    auto& mark = icon();
    mark->setFrame(iconRect());
    if (auto number = std::dynamic_pointer_cast<NumberView>(mark)) {
        number->setTintColor(theme->selectionStrokeColor());
    }
    context.setStrokeColor(theme->selectionStrokeColor());
    mark->draw(context);
}

}  // namespace pelmar
