#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Touch.h"

namespace pelmar::ui {

class GestureRecognizer;
class View;

namespace internal {
class GestureArena;
class TouchDispatcher;
}  // namespace internal

// GestureRecognizerDelegate: answers a recogniser's questions; every answer has a default.
// Ownership: held weakly by its recognisers.
// Threads: main thread only.
// Errors: none.
class GestureRecognizerDelegate {
public:
    virtual ~GestureRecognizerDelegate() = default;

    // Asked when the recogniser is about to begin (or, for a discrete one, to recognise); false
    // makes it fail.
    virtual bool gestureRecognizerShouldBegin(GestureRecognizer& /*recognizer*/) { return true; }

    virtual bool shouldRecognizeSimultaneously(GestureRecognizer& /*recognizer*/,
                                               GestureRecognizer& /*other*/) {
        return false;
    }

    virtual bool shouldReceive(GestureRecognizer& /*recognizer*/, const Touch& /*touch*/) {
        return true;
    }
};

// GestureRecognizer: turns the touches on its view (and the views below it) into a gesture. A
// continuous gesture goes Possible -> Began -> Changed... -> Ended or Cancelled; a discrete one
// goes Possible -> Ended ("recognised"); either may go to Failed. Actions run on every change of
// state except to Failed. Recognisers that saw the same touches compete: the first to begin
// makes the others fail unless a delegate lets them work simultaneously; one that requires
// another to fail waits, still Possible, until that one fails (then it goes ahead) or recognises
// (then it fails). Once every touch is up and every recogniser of the gesture has finished, all
// go back to Possible.
// Touches that began on an enabled control reach only the recognisers on that control and below
// it, so the control keeps its own taps.
// Ownership: reference object made with std::make_shared; owned by its view, which it refers to
// weakly, as it does its delegate and the recognisers it requires to fail. Actions should capture
// their owners weakly.
// Threads: main thread only. Timers (multi-tap, long press) run on the installed clock.
// Errors: none; a recogniser that is disabled, or on no view, receives no touches.
class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
public:
    enum class State : int {
        Possible = 0,
        Began = 1,
        Changed = 2,
        Ended = 3,
        Cancelled = 4,
        Failed = 5,
    };

    using Action = std::function<void(GestureRecognizer&)>;

    GestureRecognizer() = default;
    explicit GestureRecognizer(Action action);
    virtual ~GestureRecognizer();

    GestureRecognizer(const GestureRecognizer&) = delete;
    GestureRecognizer& operator=(const GestureRecognizer&) = delete;

    void addAction(Action action);

    std::shared_ptr<View> view() const { return view_.lock(); }

    State state() const { return state_; }

    bool isEnabled() const { return enabled_; }

    // Disabling a recogniser in the middle of a gesture cancels it.
    void setEnabled(bool enabled);

    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // This recogniser recognises only once `other` has failed.
    void requireToFail(const std::shared_ptr<GestureRecognizer>& other);

    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }

    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }

    // The centroid of the gesture's touches in `view`'s coordinates (null: window coordinates).
    Point location(const View* view) const;

    // In the attached view's coordinates.
    Point location() const;

    std::size_t numberOfTouches() const { return touches_.size(); }

    // The state a recogniser waiting on a failure requirement will enter once it may.
    bool isWaitingForFailure() const { return pending_.has_value(); }

protected:
    // Subclasses read the touches they were sent and move the state; setState applies the
    // delegate, failure requirements and competition described above.
    void setState(State state);

    virtual void touchesBegan(const std::vector<Touch>& /*touches*/) {}

    virtual void touchesMoved(const std::vector<Touch>& /*touches*/) {}

    virtual void touchesEnded(const std::vector<Touch>& /*touches*/) {}

    virtual void touchesCancelled(const std::vector<Touch>& /*touches*/);

    // Back to Possible: a subclass clears what it tracked.
    virtual void reset() {}

    // Discrete recognisers go straight from Possible to Ended.
    virtual bool isDiscrete() const { return false; }

    // The touches of the current gesture still down, as last sent.
    const std::vector<Touch>& touches() const { return touches_; }

    // Bumped on every reset: a timer that captured an older value is stale.
    unsigned generation() const { return generation_; }

private:
    friend class View;
    friend class internal::GestureArena;
    friend class internal::TouchDispatcher;

    void attach(std::weak_ptr<View> view) { view_ = std::move(view); }

    void enter(State state);
    void runActions();
    bool mayBegin();
    bool requiresFailureOf(const GestureRecognizer& other) const;
    void resetToPossible();
    void deliver(Touch::Phase phase, const std::vector<Touch>& touches);

    std::vector<Action> actions_;
    std::weak_ptr<View> view_;
    std::weak_ptr<GestureRecognizerDelegate> delegate_;
    std::vector<std::weak_ptr<GestureRecognizer>> failureRequirements_;
    std::weak_ptr<internal::GestureArena> arena_;
    std::vector<Touch> touches_;
    std::optional<State> pending_;
    State state_ = State::Possible;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    unsigned generation_ = 0;
};

}  // namespace pelmar::ui
