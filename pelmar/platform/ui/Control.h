#pragma once

#include <functional>
#include <map>
#include <vector>

#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

namespace internal {
class TouchDispatcher;
}

// The events a control reports to its targets.
enum class ControlEvent : int {
    TouchUpInside,
    ValueChanged,
    TouchDown,
    TouchUpOutside,
    TouchCancel
};

// Control: a view that the user acts on: enabled, selected and highlighted flags and target
// actions per event. A finger that comes down on it is tracked: TouchDown, then TouchUpInside or
// TouchUpOutside when it lifts (TouchCancel when a gesture takes the touch over).
// Ownership: reference object made with std::make_shared; owns its actions, which should capture
// their targets weakly.
// Threads: main thread only; in debug builds the mutators abort with a message off it.
// Errors: none.
class Control : public View {
public:
    using Action = std::function<void()>;

    using View::View;

    bool isEnabled() const { return enabled_; }

    void setEnabled(bool enabled);

    bool isSelected() const { return selected_; }

    void setSelected(bool selected);

    // True while a finger is down on it.
    bool isHighlighted() const { return highlighted_; }

    void addTarget(ControlEvent event, Action action);

    void removeAllTargets() { actions_.clear(); }

    // Runs the actions registered for `event`, in registration order, whatever the flags say
    // (the way code sends actions; a user's touch goes through ui::tap or a TouchSequence).
    void sendActions(ControlEvent event);

    std::size_t targetCount(ControlEvent event) const;

protected:
    // A tracked finger lifted inside the control: a subclass acts (Button, Switch) after the
    // TouchUpInside actions have run.
    virtual void touchUpInside() {}

    // Following a finger across the control (a slider's thumbs). beginTrackingTouch() runs when a
    // finger comes down on it; returning false stops following that finger. While followed,
    // continueTrackingTouch() runs on every move (false stops following) and endTrackingTouch()
    // when the finger lifts. A cancelled touch only stops following. The default follows nothing.
    virtual bool beginTrackingTouch(const Touch& /*touch*/) { return false; }

    virtual bool continueTrackingTouch(const Touch& /*touch*/) { return false; }

    virtual void endTrackingTouch(const Touch& /*touch*/) {}

    std::string className() const override { return "Control"; }

private:
    friend class internal::TouchDispatcher;

    void beginTracking();
    void endTracking(const Touch& touch);
    void cancelTracking();
    void trackingBegan(const Touch& touch);
    void trackingMoved(const Touch& touch);

    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool followsTouch_ = false;
    std::map<ControlEvent, std::vector<Action>> actions_;
};

}  // namespace pelmar::ui
