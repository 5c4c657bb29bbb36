#pragma once

#include <functional>
#include <memory>

#include "pelmar/platform/ui/Point.h"

namespace pelmar::ui {

class View;

// TapGestureRecognizer: recognises a tap on the view it is attached to and calls its action.
// Nothing touches a screen here: a test calls tap(location) to simulate one.
// Ownership: reference object made with std::make_shared; owned by its view, which it refers to
// weakly. The action should capture its owner weakly.
// Threads: main thread only.
// Errors: a tap on a recogniser that is disabled or attached to no view is ignored.
class TapGestureRecognizer : public std::enable_shared_from_this<TapGestureRecognizer> {
public:
    // Recogniser states; a tap is reported in state Ended.
    enum class State : int { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4 };

    using Action = std::function<void(TapGestureRecognizer&)>;

    explicit TapGestureRecognizer(Action action) : action_(std::move(action)) {}

    TapGestureRecognizer(const TapGestureRecognizer&) = delete;
    TapGestureRecognizer& operator=(const TapGestureRecognizer&) = delete;

    std::shared_ptr<View> view() const { return view_.lock(); }

    bool isEnabled() const { return enabled_; }

    void setEnabled(bool enabled) { enabled_ = enabled; }

    State state() const { return state_; }

    // Where the tap happened, in the coordinates of `view` (the attached view's own when null).
    // Views are taken to share one coordinate space except for their frame origins.
    Point location(const std::shared_ptr<View>& view = nullptr) const;

    // Simulates a tap at `location` in the attached view's coordinates: the action runs with
    // state Ended, then the recogniser is Possible again.
    void tap(Point location = {});

private:
    friend class View;

    void attach(std::weak_ptr<View> view) { view_ = std::move(view); }

    Action action_;
    std::weak_ptr<View> view_;
    bool enabled_ = true;
    State state_ = State::Possible;
    Point location_;
};

}  // namespace pelmar::ui
