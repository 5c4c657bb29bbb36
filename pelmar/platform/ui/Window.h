#pragma once

#include <memory>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class ViewController;

// Window: the top view of a screen; shows the view of its root view controller. A window starts
// hidden; makeKeyAndVisible() shows it and makes it the application's key window.
// The root gets viewWillAppear when it is shown (and viewDidAppear on a later main-loop turn);
// a replaced root disappears the same way.
// Ownership: reference object made with std::make_shared; owns its root view controller. The
// application owns its key window.
// Threads: main thread only.
// Errors: none.
class Window : public View {
public:
    Window() = default;
    explicit Window(Rect frame);
    ~Window() override;

    std::shared_ptr<ViewController> rootViewController() const { return root_; }

    void setRootViewController(std::shared_ptr<ViewController> controller);

    void makeKeyAndVisible();

    bool isKeyWindow();

private:
    std::shared_ptr<ViewController> root_;
};

}  // namespace pelmar::ui
