#pragma once

#include <string>
#include <vector>

#include "pelmar/platform/ui/AlertAction.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

// AlertController: a modal alert with a title, a message and actions. It is presented over its
// presenter without taking it off screen (the presenter gets no disappearance callbacks). A test
// triggers an action as a user's tap would: the alert is dismissed and the action's handler runs
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

    void addAction(AlertAction action) { actions_.push_back(std::move(action)); }

    const std::vector<AlertAction>& actions() const { return actions_; }

    // A user's tap on the first action titled `title`.
    bool triggerAction(const std::string& title);

private:
    std::string title_;
    std::string message_;
    Style style_;
    std::vector<AlertAction> actions_;
    bool triggered_ = false;  // an action is under way: the alert is going
};

}  // namespace pelmar::ui
