#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/AlertAction.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

class Button;
class Label;
class ScrollView;
class View;

// AlertController: a modal alert with a title, a message and actions. It is presented over its
// presenter without taking it off screen (the presenter gets no disappearance callbacks). Its
// view dims what lies below and takes every touch; on it a rounded panel shows the title (bold),
// the message and one button per action: an alert's panel is kPanelWidth wide in the middle of
// the screen, two buttons side by side, others stacked; an action sheet's panel spans the screen
// above its bottom safe area, buttons stacked. The panel never grows past the safe area (less
// kScreenMargin on each side): a text too long for the room left above the buttons scrolls in
// its own area (textArea()), so the buttons always stay on screen. A tap on a button (a finger's,
// through hit-testing, or triggerAction()) dismisses the alert, and the action's handler runs
// when the dismissal completes.
// Ownership: reference object made with std::make_shared; owns its actions.
// Threads: main thread only.
// Errors: triggering an unknown title, or any action of an alert that is not presented or is
// already going away, does nothing (returns false).
class AlertController : public ViewController {
public:
    enum class Style : int { ActionSheet = 0, Alert = 1 };

    AlertController(std::string title, std::string message, Style style = Style::Alert);

    const std::string& title() const { return title_; }

    const std::string& message() const { return message_; }

    Style preferredStyle() const { return style_; }

    static constexpr double kPanelWidth = 270;
    static constexpr double kButtonHeight = 44;
    // The least room kept between the panel and the safe area's edges.
    static constexpr double kScreenMargin = 16;
    static constexpr Color kDimming{0, 0, 0, 0.2};
    static constexpr Color kPanelColor{0.96, 0.96, 0.96, 1};
    static constexpr Color kActionColor{0, 0.478, 1, 1};
    static constexpr Color kDestructiveColor{1, 0.231, 0.188, 1};

    void addAction(AlertAction action);

    const std::vector<AlertAction>& actions() const { return actions_; }

    // A user's tap on the first action titled `title`.
    bool triggerAction(const std::string& title);

    // The panel and, in it, one button per action in the order added (empty before the view
    // loads).
    const std::shared_ptr<View>& panel() const { return panel_; }

    const std::vector<std::shared_ptr<Button>>& actionButtons() const { return buttons_; }

    // The panel's scrolling area holding the title and the message (null before the view loads).
    const std::shared_ptr<ScrollView>& textArea() const { return textArea_; }

protected:
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    bool trigger(std::size_t index);
    void makeButtons();
    void layoutPanel();

    std::string title_;
    std::string message_;
    Style style_;
    std::vector<AlertAction> actions_;
    bool triggered_ = false;  // an action is under way: the alert is going
    std::shared_ptr<View> panel_;
    std::shared_ptr<ScrollView> textArea_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<Label> messageLabel_;
    std::vector<std::shared_ptr<Button>> buttons_;
    std::vector<std::shared_ptr<View>> separators_;
};

}  // namespace pelmar::ui
