#include "pelmar/platform/ui/TextView.h"

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

void TextView::setText(std::string text) {
    internal::assertMainThread("TextView::setText");
    text_ = std::move(text);
    setNeedsDisplay();
}

void TextView::setTextColor(std::optional<Color> color) {
    internal::assertMainThread("TextView::setTextColor");
    textColor_ = color;
    setNeedsDisplay();
}

void TextView::draw(GraphicsContext& context) {
    TextStyle style;
    style.color = textColor_.value_or(Color::black());
    style.numberOfLines = 0;
    style.lineBreak = LineBreakMode::ByWordWrapping;
    style.centredVertically = false;
    context.drawText(text_, Rect::of({}, bounds().size()), style);
}

}  // namespace pelmar::ui
