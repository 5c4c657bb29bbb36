#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/TraitCollection.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class NavigationController;
class NavigationItem;
class PresentationController;
class TransitionContext;
class TransitioningDelegate;

enum class StatusBarStyle : int { Default = 0, LightContent = 1, DarkContent = 3 };

// ViewController: one screen of the headless model: a lazily loaded view, appearance callbacks,
// child controllers, and the modal presentation chain (root -> presentedViewController -> ...).
// Ownership: reference object made with std::make_shared. A presenter owns what it presents, a
// parent its children; a presented controller refers to its presenter weakly, a child to its
// parent weakly. It owns its view and, during a transition, the transition.
// Threads: main thread only; present()/dismiss() abort with a message off the main thread.
// Completions and appearance callbacks run on the main queue.
// Errors: refused presentations are ignored with a warning on stderr. Loading the view of a
// controller whose interface file is missing, or leaves an outlet unbound, throws
// std::logic_error (see Nib); the next view() call tries again.
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

    // Links the chain at once and sends the will-callbacks, then runs the transition: the
    // presented view goes into the presenter's window at the frame its presentation controller
    // gives (a transitioning delegate may supply the animator, an interaction controller and the
    // presentation controller). The did-callbacks and the completion come when the transition
    // ends, on a later main-loop turn: TransitionContext::kStandardDuration seconds on the clock
    // when animated, the next turn when not. A cancelled transition undoes itself and skips the
    // completion. A presentation that covers the presenter (FullScreen, CurrentContext) takes the
    // presenter's view out of the window until the dismissal starts. Presenting on a controller
    // that already presents one (or whose dismissal is under way) is refused with a warning, and
    // its completion is not called. A child controller presents through its top parent.
    void present(std::shared_ptr<ViewController> controller,
                 bool animated,
                 std::function<void()> completion = nullptr);

    // On a presenter, dismisses what it presents; on a presented controller that presents
    // nothing, dismisses itself; either way everything above goes too. The chain is unlinked
    // when the dismissal completes, just before its completion runs; with nothing to dismiss the
    // completion still runs on a later turn. A dismissal asked for while the screen is still
    // coming in starts once it is in; one asked for while it is already going completes after
    // that one. A child controller dismisses through its top parent.
    void dismiss(bool animated, std::function<void()> completion = nullptr);

    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }

    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

    ModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }

    void setModalPresentationStyle(ModalPresentationStyle style) {
        modalPresentationStyle_ = style;
    }

    // The nearest navigation controller among this controller and its parents, or null.
    std::shared_ptr<NavigationController> navigationController() const;

    // The bar items this screen shows in a navigation bar (made on first use).
    std::shared_ptr<NavigationItem> navigationItem();

    const std::string& title() const { return title_; }

    void setTitle(std::string title);

    Size preferredContentSize() const { return preferredContentSize_; }

    void setPreferredContentSize(Size size) { preferredContentSize_ = size; }

    // Where a popover presentation points from: the source view, and within it (its bounds
    // coordinates) the source rectangle; without one the popover points at the whole view.
    std::shared_ptr<View> popoverSourceView() const { return popoverSourceView_.lock(); }

    void setPopoverSourceView(const std::shared_ptr<View>& view) { popoverSourceView_ = view; }

    const std::optional<Rect>& popoverSourceRect() const { return popoverSourceRect_; }

    void setPopoverSourceRect(std::optional<Rect> rect) { popoverSourceRect_ = rect; }

    void setTransitioningDelegate(std::weak_ptr<TransitioningDelegate> delegate) {
        transitioningDelegate_ = std::move(delegate);
    }

    std::shared_ptr<TransitioningDelegate> transitioningDelegate() const {
        return transitioningDelegate_.lock();
    }

    // While presented: the controller that placed it.
    std::shared_ptr<PresentationController> presentationController() const {
        return presentationController_;
    }

    // The transition this controller started that is still under way, or null.
    std::shared_ptr<TransitionContext> transitionInProgress() const { return transition_; }

    // Sets the presented view's frame again from its presentation controller (after a rotation).
    void layoutPresentedView();

    // Child controllers, in the order added.
    const std::vector<std::shared_ptr<ViewController>>& children() const { return children_; }

    std::shared_ptr<ViewController> parent() const { return parent_.lock(); }

    // Calls child->willMove(this) and adopts it (taking it from a previous parent); the caller
    // adds the child's view and then calls child->didMove(this). Children hear their parent's
    // appearance callbacks while their views are inside the parent's view, and appear or
    // disappear themselves when their views enter or leave the window while the parent is on
    // screen, unless the parent forwards appearance itself
    // (shouldAutomaticallyForwardAppearanceMethods() false, as a navigation controller does).
    void addChild(const std::shared_ptr<ViewController>& child);

    // Calls didMove(null) and leaves the parent; the caller first calls willMove(null) and
    // removes the view.
    void removeFromParent();

    virtual void willMove(ViewController* /*parent*/) {}

    virtual void didMove(ViewController* /*parent*/) {}

    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }

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

    // The traits of the window the view is in; before the view is in one, those of the key
    // window, else those the main screen's size gives on this device.
    TraitCollection traitCollection() const;

    // The window's traits changed (a rotation, an override); `previous` is what they were.
    virtual void traitCollectionDidChange(const TraitCollection& /*previous*/) {}

    // Answers to the system about rotation and the status bar. The mask holds one bit per
    // interface orientation (1 << orientation).
    virtual bool shouldAutorotate() const { return true; }

    virtual int supportedInterfaceOrientations() const { return 30; }

    virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }

    // Whether this screen wants the status bar hidden while it is on top.
    virtual bool prefersStatusBarHidden() const { return false; }

    const std::string& nibName() const { return nibName_; }

protected:
    // Starts `transition` as this controller's transition under way (presentations, navigation).
    // Its finish handler first calls clearTransition(), and last transitionEnded(), which runs
    // work held until the transition was over.
    void runTransition(const std::shared_ptr<TransitionContext>& transition);

    void clearTransition() { transition_.reset(); }

    void transitionEnded();

    // Creates the view: the nib's views when the controller has a registered nib name, else a
    // plain View. An override calls setView().
    virtual void loadView();

    void setView(std::shared_ptr<View> view);

private:
    friend class View;

    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };

    // The top of the parent chain (this controller when it has no parent).
    std::shared_ptr<ViewController> rootParent();
    std::shared_ptr<View> containerForPresentation();
    // What a presentation or dismissal does when its transition ends (completed or cancelled).
    static void finishPresentation(const std::shared_ptr<ViewController>& self,
                                   const std::shared_ptr<ViewController>& controller,
                                   bool covers,
                                   const std::shared_ptr<PresentationController>& presentation,
                                   const std::function<void()>& completion,
                                   bool completed);
    static void finishDismissal(const std::shared_ptr<ViewController>& presenter,
                                const std::shared_ptr<ViewController>& target,
                                const std::vector<std::shared_ptr<ViewController>>& chain,
                                bool uncovers,
                                const std::shared_ptr<PresentationController>& presentation,
                                const std::function<void()>& completion,
                                bool completed);
    // The view of this controller entered (true) or left a window.
    void viewMovedToWindow(bool entered);
    void forwardAppearance(bool begin, bool isAppearing, bool animated);

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
    std::string title_;
    std::shared_ptr<NavigationItem> navigationItem_;
    Size preferredContentSize_;
    std::weak_ptr<View> popoverSourceView_;
    std::optional<Rect> popoverSourceRect_;
    std::weak_ptr<TransitioningDelegate> transitioningDelegate_;
    std::shared_ptr<PresentationController> presentationController_;
    std::shared_ptr<TransitionContext> transition_;
    // Work held until the transition under way ends (a dismissal asked for mid-presentation).
    std::vector<std::function<void()>> afterTransition_;
    std::vector<std::shared_ptr<ViewController>> children_;
    std::weak_ptr<ViewController> parent_;
};

}  // namespace pelmar::ui
