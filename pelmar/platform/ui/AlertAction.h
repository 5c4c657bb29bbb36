#pragma once

#include <functional>
#include <string>

namespace pelmar::ui {

// AlertAction: one button of an alert: a title, a style and an optional handler.
// Ownership: value type; the handler should capture its owner weakly.
// Threads: thread-compatible.
// Errors: none.
struct AlertAction {
    enum class Style : int { Default = 0, Cancel = 1, Destructive = 2 };

    std::string title;
    Style style = Style::Default;
    std::function<void(const AlertAction&)> handler;
};

}  // namespace pelmar::ui
