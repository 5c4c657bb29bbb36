#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class NavigationController;

enum class StatusBarStyle : int { Default = 0, LightContent = 1, DarkContent = 3 };

// ViewController: one screen of the headless model: a lazily loaded view, appearance callbacks,
// and the modal presentation chain (root -> presentedViewController -> ... -> top).
// present() links the chain at once and sends the will-callbacks; the did-callbacks and the
// completion follow on a later main-loop turn (animated or not). Presenting on a controller that
// already presents one (or whose dismissal is under way) is refused with a warning, and its
// completion is not called. dismiss() on a presenter dismisses what it presents; on a presented
// controller that presents nothing it dismisses itself; either way everything above goes too.
// The chain is unlinked when the dismissal completes, just before its completion runs; with
// nothing to dismiss the completion still runs on a later turn.
// Ownership: reference object made with std::make_shared. A presenter owns what it presents;
// a presented controller refers to its presenter weakly. It owns its view.
// Threads: main thread only; present()/dismiss() abort with a message off the main thread.
// Completions and appearance callbacks run on the main queue.
// Errors: refused presentations are ignored with a warning on stderr.
class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    ViewController() = default;

    // A controller whose view comes from the interface file `nibName` (see Nib).
    explicit ViewController(std::string nibName) : nibName_(std::move(nibName)) {}

    virtual ~ViewController();

    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Loads the view on first use (loadView, then viewDidLoad).
    std::shared_ptr<View> view();

    bool isViewLoaded() const { return view_ != nullptr; }

    void loadViewIfNeeded();

    void present(std::shared_ptr<ViewController> controller,
                 bool animated,
                 std::function<void()> completion = nullptr);

    void dismiss(bool animated, std::function<void()> completion = nullptr);

    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }

    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

    ModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }

    void setModalPresentationStyle(ModalPresentationStyle style) {
        modalPresentationStyle_ = style;
    }

    // No navigation stacks yet: always null.
    std::shared_ptr<NavigationController> navigationController() const { return nullptr; }

    bool isBeingPresented() const { return beingPresented_; }

    bool isBeingDismissed() const { return beingDismissed_; }

    // The `animated` flag of the last present() that showed this controller, and of the last
    // dismissal that removed it; empty until one happened.
    std::optional<bool> lastPresentationAnimated() const { return lastPresentationAnimated_; }

    std::optional<bool> lastDismissalAnimated() const { return lastDismissalAnimated_; }

    // Appearance transitions, driven by presentations and windows. Each sends the matching
    // will-callback only when it changes the state (appearing twice calls nothing the second
    // time); end sends the did-callback of the transition under way, if any.
    void beginAppearanceTransition(bool isAppearing, bool animated);

    void endAppearanceTransition();

    // True between viewDidAppear and viewWillDisappear.
    bool isAppeared() const { return appearance_ == Appearance::Appeared; }

    virtual void viewDidLoad() {}

    virtual void viewWillAppear(bool /*animated*/) {}

    virtual void viewDidAppear(bool /*animated*/) {}

    virtual void viewWillDisappear(bool /*animated*/) {}

    virtual void viewDidDisappear(bool /*animated*/) {}

    // The size of the screen is about to change (a rotation).
    virtual void viewWillTransition(Size /*size*/) {}

    // Answers to the system about rotation and the status bar. The mask holds one bit per
    // interface orientation (1 << orientation).
    virtual bool shouldAutorotate() const { return true; }

    virtual int supportedInterfaceOrientations() const { return 30; }

    virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }

    const std::string& nibName() const { return nibName_; }

protected:
    // Creates the view: the nib's views when the controller has a registered nib name, else a
    // plain View. An override calls setView().
    virtual void loadView();

    void setView(std::shared_ptr<View> view) { view_ = std::move(view); }

private:
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };

    std::string nibName_;
    std::shared_ptr<View> view_;
    bool loadingView_ = false;
    std::shared_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    ModalPresentationStyle modalPresentationStyle_ = ModalPresentationStyle::Automatic;
    Appearance appearance_ = Appearance::Disappeared;
    bool transitionAnimated_ = false;
    // Took this controller off screen when presenting; it reappears when that is dismissed.
    bool coveredByPresented_ = false;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    std::optional<bool> lastPresentationAnimated_;
    std::optional<bool> lastDismissalAnimated_;
};

}  // namespace pelmar::ui
