#include "pelmar/audio/ErrorAlert.h"

#include <utility>

#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/AlertController.h"

namespace pelmar {

void showAlert(const std::shared_ptr<ui::ViewController>& controller, std::string description) {
    auto alert = std::make_shared<ui::AlertController>("Error", std::move(description),
                                                       ui::AlertController::Style::Alert);
    // The alert goes away on its own when its button is tapped; the handler has nothing to add.
    alert->addAction(ui::AlertAction{"OK", ui::AlertAction::Style::Cancel, nullptr});
    std::weak_ptr<ui::ViewController> weak = controller;
    dispatch::Queue::main()->async([weak, alert] {
        if (auto presenter = weak.lock()) {
            presenter->present(alert, true);
        }
    });
}

void showAlert(const std::shared_ptr<ui::ViewController>& controller, std::exception_ptr error) {
    showAlert(controller, errorDescription(error));
}

}  // namespace pelmar
