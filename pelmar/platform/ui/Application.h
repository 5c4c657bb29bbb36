#pragma once

#include <memory>
#include <utility>

namespace pelmar::ui {

class Window;

// Application: the process-wide application object; knows the key window (there may be none).
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

private:
    Application() = default;

    std::shared_ptr<Window> keyWindow_;
};

}  // namespace pelmar::ui
