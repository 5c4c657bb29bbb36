#include "pelmar/platform/ui/AlertController.h"

#include <utility>

namespace pelmar::ui {

AlertController::AlertController(std::string title, std::string message, Style style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::Custom);
}

bool AlertController::triggerAction(const std::string& title) {
    if (!presentingViewController() || isBeingDismissed() || triggered_) {
        return false;
    }
    for (const auto& action : actions_) {
        if (action.title == title) {
            triggered_ = true;
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
    }
    return false;
}

}  // namespace pelmar::ui
