#include "pelmar/platform/ui/AlertController.h"

#include <utility>

namespace pelmar::ui {

AlertController::AlertController(std::string title, std::string message, Style style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::Custom);
}

bool AlertController::triggerAction(const std::string& title) {
    if (!presentingViewController() || isBeingDismissed()) {
        return false;
    }
    for (const auto& action : actions_) {
        if (action.title == title) {
            dismiss(true, [action] {
                if (action.handler) {
                    action.handler(action);
                }
            });
            return true;
        }
    }
    return false;
}

}  // namespace pelmar::ui
