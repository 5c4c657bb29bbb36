#include "pelmar/platform/ui/Application.h"

#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {

Application& Application::shared() {
    static auto* application = new Application();  // never destroyed
    return *application;
}

}  // namespace pelmar::ui
