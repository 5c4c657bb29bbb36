#include "pelmar/platform/ui/AlertController.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/CairoContext.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

namespace {

constexpr double kPadding = 16;
constexpr double kTextTop = 20;
constexpr double kTextGap = 4;
constexpr double kSheetMargin = 8;
constexpr double kCornerRadius = 14;
constexpr Color kSeparatorColor{0.78, 0.78, 0.8, 1};

// The alert's own view: it dims the screen, takes every touch that misses the panel, and lays the
// panel out again whenever its size changes and when it enters a window (whose safe area bounds
// the panel).
class AlertView : public View {
public:
    std::function<void()> onLayout;

protected:
    void layoutSubviews() override {
        if (onLayout) {
            onLayout();
        }
    }

    void didMoveToWindow() override {
        if (onLayout && window()) {
            onLayout();
        }
    }

    std::string className() const override { return "AlertView"; }
};

// The height `text` takes when wrapped into `width`, as the painter lays it out.
double textHeight(const std::string& text, const Font& font, double width) {
    if (text.empty()) {
        return 0;
    }
    auto context = CairoContext::create(image::Bitmap::create(
            1, 1, {.format = image::PixelFormat::BGRA8, .premultiplied = true, .scale = 1}));
    if (!context) {
        return font.size * 1.2;
    }
    TextStyle style;
    style.font = font;
    style.numberOfLines = 0;
    style.alignment = TextAlignment::Center;
    return context->measureText(text, style, width).height;
}

std::shared_ptr<Label> makeLabel(const std::string& text, Font font) {
    auto label = std::make_shared<Label>();
    label->setText(text);
    label->setFont(std::move(font));
    label->setTextColor(Color::black());
    label->setTextAlignment(TextAlignment::Center);
    label->setNumberOfLines(0);
    return label;
}

}  // namespace

AlertController::AlertController(std::string title, std::string message, Style style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::Custom);
}

void AlertController::addAction(AlertAction action) {
    actions_.push_back(std::move(action));
    if (panel_) {
        makeButtons();
        layoutPanel();
    }
}

void AlertController::loadView() {
    auto root = std::make_shared<AlertView>();
    std::weak_ptr<ViewController> weak = weak_from_this();
    root->onLayout = [weak] {
        if (auto self = std::static_pointer_cast<AlertController>(weak.lock())) {
            self->layoutPanel();
        }
    };
    setView(std::move(root));
}

void AlertController::viewDidLoad() {
    ViewController::viewDidLoad();
    auto root = view();
    root->layer()->setBackgroundColor(kDimming);
    panel_ = std::make_shared<View>();
    panel_->layer()->setBackgroundColor(kPanelColor);
    panel_->layer()->setCornerRadius(kCornerRadius);
    panel_->setClipsToBounds(true);
    titleLabel_ = makeLabel(title_, Font::boldSystemFont(17));
    messageLabel_ = makeLabel(message_, Font::systemFont(13));
    textArea_ = std::make_shared<ScrollView>();
    textArea_->setClipsToBounds(true);
    textArea_->addSubview(titleLabel_);
    textArea_->addSubview(messageLabel_);
    panel_->addSubview(textArea_);
    root->addSubview(panel_);
    makeButtons();
    layoutPanel();
}

void AlertController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    // The presentation has sized the view by now.
    layoutPanel();
}

void AlertController::makeButtons() {
    for (const auto& b : buttons_) {
        b->removeFromSuperview();
    }
    for (const auto& s : separators_) {
        s->removeFromSuperview();
    }
    buttons_.clear();
    separators_.clear();
    std::weak_ptr<ViewController> weak = weak_from_this();
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        const auto& action = actions_[i];
        auto button = std::make_shared<Button>();
        button->setTitle(action.title);
        button->setTitleFont(action.style == AlertAction::Style::Cancel
                                     ? Font::systemFont(17, FontWeight::Semibold)
                                     : Font::systemFont(17));
        button->setTitleColor(
                action.style == AlertAction::Style::Destructive ? kDestructiveColor : kActionColor,
                ControlState::Normal);
        button->addTarget(ControlEvent::TouchUpInside, [weak, i] {
            if (auto self = std::static_pointer_cast<AlertController>(weak.lock())) {
                self->trigger(i);
            }
        });
        auto separator = std::make_shared<View>();
        separator->layer()->setBackgroundColor(kSeparatorColor);
        separator->setUserInteractionEnabled(false);
        panel_->addSubview(separator);
        panel_->addSubview(button);
        buttons_.push_back(std::move(button));
        separators_.push_back(std::move(separator));
    }
}

void AlertController::layoutPanel() {
    if (!panel_) {
        return;
    }
    const auto root = view();
    const Rect bounds = root->bounds();
    const bool sheet = style_ == Style::ActionSheet;
    const double width = sheet ? std::max(0.0, bounds.width - 2 * kSheetMargin)
                               : std::min(kPanelWidth, bounds.width);
    const double textWidth = std::max(0.0, width - 2 * kPadding);
    // Two actions of an alert share one row; any other number stacks.
    const bool row = !sheet && buttons_.size() == 2;
    const double buttonsHeight = kButtonHeight * static_cast<double>(row ? 1 : buttons_.size());
    const EdgeInsets safe = root->safeAreaInsets();
    const double room = std::max(0.0, bounds.height - safe.top - safe.bottom - 2 * kScreenMargin);

    // The text, laid out whole inside its area; the area takes what room the buttons leave.
    const double titleHeight = textHeight(title_, titleLabel_->font(), textWidth);
    const double messageHeight = textHeight(message_, messageLabel_->font(), textWidth);
    double textBlock = 0;
    if (titleHeight > 0 || messageHeight > 0) {
        double y = kTextTop;
        titleLabel_->setFrame({kPadding, y, textWidth, titleHeight});
        y += titleHeight;
        if (titleHeight > 0 && messageHeight > 0) {
            y += kTextGap;
        }
        messageLabel_->setFrame({kPadding, y, textWidth, messageHeight});
        textBlock = y + messageHeight + kTextTop;
    }
    const double textAreaHeight = std::min(textBlock, std::max(0.0, room - buttonsHeight));
    textArea_->setFrame({0, 0, width, textAreaHeight});
    textArea_->setContentSize({width, textBlock});
    textArea_->setScrollEnabled(textBlock > textAreaHeight);

    double y = textAreaHeight;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        if (row) {
            const double half = width / 2;
            buttons_[i]->setFrame({half * static_cast<double>(i), y, half, kButtonHeight});
            separators_[i]->setFrame(i == 0 ? Rect{0, y, width, 1}
                                            : Rect{half, y, 1, kButtonHeight});
        } else {
            buttons_[i]->setFrame({0, y, width, kButtonHeight});
            separators_[i]->setFrame({0, y, width, 1});
            y += kButtonHeight;
        }
    }
    if (row) {
        y += kButtonHeight;
    }
    const double top = bounds.y + safe.top + kScreenMargin;
    const double bottom = bounds.y + bounds.height - safe.bottom;
    const double x = bounds.x + (bounds.width - width) / 2;
    // Centred, but kept below the safe area's top when the panel is as tall as the room.
    const double centred = std::max(top, bounds.y + (bounds.height - y) / 2);
    panel_->setFrame({x, sheet ? bottom - kSheetMargin - y : centred, width, y});
}

bool AlertController::triggerAction(const std::string& title) {
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        if (actions_[i].title == title) {
            return trigger(i);
        }
    }
    return false;
}

bool AlertController::trigger(std::size_t index) {
    if (!presentingViewController() || isBeingDismissed() || triggered_
        || index >= actions_.size()) {
        return false;
    }
    triggered_ = true;
    const AlertAction action = actions_[index];
    std::weak_ptr<ViewController> weak = weak_from_this();
    dismiss(true, [weak, action] {
        if (auto self = std::static_pointer_cast<AlertController>(weak.lock())) {
            self->triggered_ = false;
        }
        if (action.handler) {
            action.handler(action);
        }
    });
    return true;
}

}  // namespace pelmar::ui
