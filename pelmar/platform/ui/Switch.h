#pragma once

#include "pelmar/platform/ui/Control.h"

namespace pelmar::ui {

// Switch: an on/off control; a user's toggle flips it and sends its value-changed actions.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: toggling a disabled or hidden switch does nothing (returns false).
class Switch : public Control {
public:
    using Control::Control;

    bool isOn() const { return on_; }

    // Sets the value as code does: no actions are sent.
    void setOn(bool on) { on_ = on; }

    bool toggle();

private:
    bool on_ = false;
};

}  // namespace pelmar::ui
