#pragma once

#include <memory>
#include <optional>

#include "pelmar/platform/ui/InterfaceOrientation.h"
#include "pelmar/platform/ui/TraitCollection.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class ViewController;

namespace internal {
class TouchDispatcher;
}

// Window: the top view of a screen; shows the view of its root view controller, and above it the
// views of the screens presented from there, each sized by its presentation. A window starts
// hidden; makeKeyAndVisible() shows it and makes it the application's key window.
// The root gets viewWillAppear when it is shown (and viewDidAppear on a later main-loop turn);
// a replaced root disappears the same way. Touches go to the topmost screen only (see ui::tap).
// rotate() turns the interface: the screen's bounds swap, every screen hears
// viewWillTransition(size) and the screens' views are sized again. The window's traits follow its
// size and the device's kind unless a host overrides them; when a rotation or an override
// changes them, every screen on the presentation chain (and its children) hears
// traitCollectionDidChange with the traits before.
// Ownership: reference object made with std::make_shared; owns its root view controller (which
// owns what it presents). The application owns its key window.
// Threads: main thread only.
// Errors: none.
class Window : public View {
public:
    Window();
    explicit Window(Rect frame);
    ~Window() override;

    std::shared_ptr<ViewController> rootViewController() const { return root_; }

    void setRootViewController(std::shared_ptr<ViewController> controller);

    void makeKeyAndVisible();

    bool isKeyWindow();

    // The last controller of the presentation chain that starts at the root, or null.
    std::shared_ptr<ViewController> topViewController() const;

    // The view of the topmost screen that is in this window, or null.
    std::shared_ptr<View> topmostScreenView();

    // The screen's insets when the window covers the screen, else what was set (zero at first).
    EdgeInsets safeAreaInsets() override;

    // When the insets the window reports change, every screen on the presentation chain (and its
    // children) is laid out again.
    void setSafeAreaInsets(std::optional<EdgeInsets> insets);

    // The override when one is set, else TraitCollection::forWindow(bounds size, device kind).
    TraitCollection traitCollection() const;

    // Fixes the traits (a host or test laying screens out for a given size class); none goes
    // back to the traits of the window's size.
    void setTraitOverride(std::optional<TraitCollection> traits);

    // Turns the interface to `orientation`: the application's device and interface orientations,
    // the screen's bounds and the window's frame follow; every screen on the presentation chain
    // (and its children) hears viewWillTransition with the new size first.
    void rotate(InterfaceOrientation orientation);

    internal::TouchDispatcher& touches();

protected:
    std::string className() const override { return "Window"; }

private:
    std::shared_ptr<ViewController> root_;
    // Tells the screens when the traits differ from `before`.
    void traitsMayHaveChanged(const TraitCollection& before);
    // Lays the screens out again when the safe area differs from `before`.
    void insetsMayHaveChanged(const EdgeInsets& before);

    std::optional<EdgeInsets> safeArea_;
    std::optional<TraitCollection> traitOverride_;
    std::shared_ptr<internal::TouchDispatcher> touches_;
};

}  // namespace pelmar::ui
