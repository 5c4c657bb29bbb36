#include "pelmar/platform/ui/NavigationBar.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/NavigationItem.h"

namespace pelmar::ui {

namespace {

constexpr double kButtonWidth = 60;
// Room beside a bar button's title.
constexpr double kButtonPadding = 8;

// The distance from `p` to the segment from `a` to `b`.
double distanceToSegment(Point p, Point a, Point b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = dx * dx + dy * dy;
    const double t =
            length > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length, 0.0, 1.0) : 0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// The back button's chevron, a template image so that it shows in the bar's tint. Its pixels are
// worked out here (a line's coverage from its distance) so that bars need no painting context.
std::shared_ptr<const Image> backChevron() {
    constexpr int kScale = 3;
    constexpr double kWidth = 13;
    constexpr double kHeight = 21;
    constexpr double kHalfLine = 1.5;
    const Point top{kWidth - 2, 2};
    const Point tip{2.5, kHeight / 2};
    const Point bottom{kWidth - 2, kHeight - 2};
    auto bitmap = image::Bitmap::create(static_cast<int>(kWidth) * kScale,
                                        static_cast<int>(kHeight) * kScale, {.scale = kScale});
    if (!bitmap) {
        return nullptr;
    }
    for (int y = 0; y < bitmap->height(); ++y) {
        uint8_t* row = bitmap->row(y);
        for (int x = 0; x < bitmap->width(); ++x) {
            const Point p{(x + 0.5) / kScale, (y + 0.5) / kScale};
            const double distance =
                    std::min(distanceToSegment(p, top, tip), distanceToSegment(p, tip, bottom));
            // Coverage falls from 1 to 0 over the pixel at the line's edge.
            const double coverage = std::clamp((kHalfLine - distance) * kScale + 0.5, 0.0, 1.0);
            const auto alpha = static_cast<uint8_t>(std::lround(coverage * 255));
            // Premultiplied black: only the alpha counts in a template.
            row[4 * x + 3] = alpha;
        }
    }
    return Image::asTemplate(Image::fromBitmap(std::move(bitmap)));
}

}  // namespace

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items) {
    items_ = std::move(items);
    rebuild();
}

std::shared_ptr<NavigationItem> NavigationBar::topItem() const {
    return items_.empty() ? nullptr : items_.back();
}

std::shared_ptr<NavigationItem> NavigationBar::backItem() const {
    return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
}

std::string NavigationBar::backButtonTitle() const {
    return backButton_ ? backButton_->title() : std::string();
}

void NavigationBar::rebuild() {
    // A copy: removing a subview changes the list being walked.
    const auto previous = subviews();
    for (const auto& old : previous) {
        old->removeFromSuperview();
    }
    backButton_.reset();
    left_.clear();
    right_.clear();
    auto top = topItem();
    title_ = top ? top->title() : std::string();
    auto back = backItem();
    if (back && top && !top->hidesBackButton()) {
        backButton_ = std::make_shared<Button>();
        std::string text = back->backButtonTitle();
        if (text.empty()) {
            text = back->title().empty() ? "Back" : back->title();
        }
        backButton_->setTitle(text);
        // The chevron shows even when the title is blank.
        backButton_->setImage(backChevron(), ControlState::Normal);
        std::weak_ptr<View> weak = weak_from_this();
        backButton_->addTarget(ControlEvent::TouchUpInside, [weak] {
            auto self = std::static_pointer_cast<NavigationBar>(weak.lock());
            if (self && self->onBack) {
                self->onBack();
            }
        });
        addSubview(backButton_);
    }
    if (top) {
        // A change of the item shows at once.
        std::weak_ptr<View> weakBar = weak_from_this();
        std::weak_ptr<NavigationItem> weakItem = top;
        top->setOnChange([weakBar, weakItem] {
            auto bar = std::static_pointer_cast<NavigationBar>(weakBar.lock());
            auto item = weakItem.lock();
            if (bar && item && bar->topItem() == item) {
                bar->rebuild();
            }
        });
        for (const auto& item : top->leftBarButtonItems()) {
            left_.push_back(item->makeButton());
            addSubview(left_.back());
        }
        for (const auto& item : top->rightBarButtonItems()) {
            right_.push_back(item->makeButton());
            addSubview(right_.back());
        }
        if (auto titleView = top->titleView()) {
            addSubview(titleView);
        }
    }
    setNeedsLayout();
    layoutIfNeeded();
}

void NavigationBar::draw(GraphicsContext& context) {
    const Rect b = Rect::of({}, bounds().size());
    // The platform's bar is a light grey that lets a little through when translucent.
    Color background = barTintColor_.value_or(Color{0.97, 0.97, 0.97, 1});
    if (translucent_) {
        background.alpha *= 0.94;
    }
    context.setFillColor(background);
    context.fillRect(b);
    context.setFillColor(Color{0, 0, 0, 0.3});
    context.fillRect({b.x, b.y + b.height - 0.5, b.width, 0.5});
    auto top = topItem();
    if (title_.empty() || (top && top->titleView())) {
        return;
    }
    TextStyle style;
    style.font = Font::systemFont(17, FontWeight::Semibold);
    style.color = titleTextColor_.value_or(Color::black());
    style.alignment = TextAlignment::Center;
    context.drawText(title_,
                     {b.x + kButtonWidth + 8, b.y + b.height - kHeight,
                      std::max(0.0, b.width - 2 * (kButtonWidth + 8)), kHeight},
                     style);
}

void NavigationBar::layoutSubviews() {
    const Rect b = bounds();
    // The bar's buttons read in the tint, greyed while disabled.
    const Color tint = effectiveTintColor();
    std::vector<std::shared_ptr<Button>> buttons = left_;
    buttons.insert(buttons.end(), right_.begin(), right_.end());
    if (backButton_) {
        buttons.push_back(backButton_);
    }
    for (const auto& button : buttons) {
        button->setTitleColor(tint, ControlState::Normal);
        button->setTitleColor(Color{0.6, 0.6, 0.6, 1}, ControlState::Disabled);
    }
    const double y = b.height - kHeight;
    double x = 8;
    if (backButton_) {
        backButton_->setFrame({x, y, kButtonWidth, kHeight});
        x += kButtonWidth;
    }
    // A bar button is as wide as its title and picture need, at least kButtonWidth and at most a
    // third of the bar.
    const auto width = [&](const Button& button) {
        const double fit = button.sizeThatFits().width + kButtonPadding;
        return std::clamp(fit, kButtonWidth, std::max(kButtonWidth, b.width / 3));
    };
    for (const auto& button : left_) {
        const double w = width(*button);
        button->setFrame({x, y, w, kHeight});
        x += w;
    }
    double right = b.width - 8;
    for (const auto& button : right_) {
        const double w = width(*button);
        right -= w;
        button->setFrame({right, y, w, kHeight});
    }
    if (auto top = topItem(); top && top->titleView()) {
        const Rect t = top->titleView()->frame();
        top->titleView()->setFrame(
                {(b.width - t.width) / 2, y + (kHeight - t.height) / 2, t.width, t.height});
    }
}

}  // namespace pelmar::ui
