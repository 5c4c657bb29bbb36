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

NumberView::NumberView() {
    setFont(ui::Font::boldSystemFont(12));
    setNumberOfLines(1);
    setAdjustsFontSizeToFitWidth(true);
    setTextAlignment(ui::TextAlignment::Center);
    setTextColor(ui::Color::white());
}

void NumberView::setTintColor(ui::Color tint) {
    View::setTintColor(tint);
    setTextColor(tint);
}

void NumberView::draw(ui::GraphicsContext& context) {
    drawText(context, frame());
}

void SelectionView::setSettings(std::shared_ptr<Settings> settings) {
    settings_ = std::move(settings);
    setNeedsDisplay();
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
    auto theme = settings_->theme();
    const ui::Rect circle = circleRect();
    const ui::Point centre{circle.x + circle.width / 2, circle.y + circle.height / 2};
    const double radius = std::min(circle.width, circle.height) / 2;
    // The fill alone casts the shadow, in the theme's colour as it is now; the outline and the
    // icon lie on top, sharp.
    context.saveState();
    context.setShadow(theme->selectionShadowColor(), kShadowOffset, kShadowBlur);
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
