#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pelmar/platform/ui/InterfaceOrientation.h"

namespace pelmar::ui {

class Window;

// Application: the process-wide application object: the key window (there may be none), the
// interface and device orientations, and the URLs the app asked the system to open (kept for
// tests to read; nothing is opened).
// Ownership: one instance for the process, never destroyed; it owns its key window.
// Threads: main thread only.
// Errors: none.
class Application {
public:
    static Application& shared();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    std::shared_ptr<Window> keyWindow() const { return keyWindow_; }

    // Window::makeKeyAndVisible() is the usual way in; null clears it (tests).
    void setKeyWindow(std::shared_ptr<Window> window) { keyWindow_ = std::move(window); }

    // The URL that opens this app's page of the system settings.
    static constexpr std::string_view kOpenSettingsURLString = "app-settings:";

    void open(std::string url) { openedURLs_.push_back(std::move(url)); }

    const std::vector<std::string>& openedURLs() const { return openedURLs_; }

    InterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }

    void setStatusBarOrientation(InterfaceOrientation o) { statusBarOrientation_ = o; }

    DeviceOrientation deviceOrientation() const { return deviceOrientation_; }

    void setDeviceOrientation(DeviceOrientation o) { deviceOrientation_ = o; }

    bool isMultitaskingSupported() const { return true; }

    // Back to a fresh state: no key window, portrait, nothing opened (tests).
    void reset();

private:
    Application() = default;

    std::shared_ptr<Window> keyWindow_;
    std::vector<std::string> openedURLs_;
    InterfaceOrientation statusBarOrientation_ = InterfaceOrientation::Portrait;
    DeviceOrientation deviceOrientation_ = DeviceOrientation::Portrait;
};

}  // namespace pelmar::ui
