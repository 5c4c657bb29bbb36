#include "pelmar/platform/ui/Application.h"

#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {

Application& Application::shared() {
    static auto* application = new Application();  // never destroyed
    return *application;
}

void Application::reset() {
    keyWindow_.reset();
    openedURLs_.clear();
    statusBarOrientation_ = InterfaceOrientation::Portrait;
    deviceOrientation_ = DeviceOrientation::Portrait;
}

}  // namespace pelmar::ui
