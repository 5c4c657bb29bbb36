#include "pelmar/platform/ui/Label.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pelmar/platform/ui/CairoContext.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

namespace {

// Shrinking stops here when the label sets no minimum: text this small is unreadable anyway.
constexpr double kSmallestScale = 0.05;
// Measured widths do not scale exactly with the size (hinting), so a few more tries follow.
constexpr int kShrinkTries = 8;

TextStyle scaled(TextStyle style, double factor) {
    style.font.size *= factor;
    for (auto& run : style.runs) {
        run.font.size *= factor;
    }
    return style;
}

}  // namespace

void Label::setMinimumScaleFactor(double factor) {
    minimumScaleFactor_ = std::isnan(factor) ? 0 : std::clamp(factor, 0.0, 1.0);
}

TextStyle Label::textStyle() const {
    TextStyle style;
    style.font = font_;
    style.color = textColor_;
    style.alignment = textAlignment_;
    style.numberOfLines = numberOfLines_;
    style.lineBreak = lineBreakMode_;
    style.runs = runs_;
    return style;
}

void Label::drawText(GraphicsContext& context, Rect rect) const {
    TextStyle style = textStyle();
    if (adjustsFontSize_ && !text_.empty() && rect.width > 0) {
        const double smallest = std::max(minimumScaleFactor_, kSmallestScale);
        // Each line at its full width: the widest one decides.
        const double wide = context.measureText(text_, style, 0).width;
        if (wide > rect.width) {
            double factor = std::max(smallest, rect.width / wide);
            for (int i = 0; i < kShrinkTries && factor > smallest; ++i) {
                if (context.measureText(text_, scaled(style, factor), 0).width <= rect.width) {
                    break;
                }
                factor = std::max(smallest, factor * 0.97);
            }
            style = scaled(style, factor);
        }
    }
    context.drawText(text_, rect, style);
}

Size Label::sizeThatFits(double width) const {
    return measureLaidOutText(text_, textStyle(), width);
}

void Label::sizeToFit() {
    const Rect f = frame();
    const Size size = sizeThatFits();
    setFrame({f.x, f.y, size.width, size.height});
}

void Label::setAttributedText(std::vector<TextRun> runs) {
    std::string joined;
    for (const auto& run : runs) {
        joined += run.text;
    }
    setText(std::move(joined));
    runs_ = std::move(runs);
}

void Label::setText(std::string text) {
    internal::assertMainThread("Label::setText");
    runs_.clear();
    const std::string old = std::exchange(text_, std::move(text));
    if (old == text_) {
        return;
    }
    // A copy: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [token, observer] : observers) {
        if (observers_.contains(token)) {
            observer(*this, old);
        }
    }
}

int Label::addTextObserver(TextObserver observer) {
    const int token = nextObserver_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void Label::removeTextObserver(int token) {
    observers_.erase(token);
}

}  // namespace pelmar::ui
