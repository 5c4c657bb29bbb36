#pragma once

#include <functional>
#include <map>
#include <vector>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// The events a control reports to its targets.
enum class ControlEvent : int { TouchUpInside, ValueChanged };

// Control: a view that the user acts on: enabled and selected flags and target actions per event.
// Ownership: reference object made with std::make_shared; owns its actions, which should capture
// their targets weakly.
// Threads: main thread only.
// Errors: none.
class Control : public View {
public:
    using Action = std::function<void()>;

    using View::View;

    bool isEnabled() const { return enabled_; }

    void setEnabled(bool enabled) { enabled_ = enabled; }

    bool isSelected() const { return selected_; }

    void setSelected(bool selected) { selected_ = selected; }

    void addTarget(ControlEvent event, Action action);

    void removeAllTargets() { actions_.clear(); }

    // Runs the actions registered for `event`, in registration order, whatever the flags say
    // (the way code sends actions; a user's touch goes through Button::tap or Switch::toggle).
    void sendActions(ControlEvent event);

    std::size_t targetCount(ControlEvent event) const;

private:
    bool enabled_ = true;
    bool selected_ = false;
    std::map<ControlEvent, std::vector<Action>> actions_;
};

}  // namespace pelmar::ui
