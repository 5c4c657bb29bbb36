#pragma once

#include "pelmar/platform/ui/Control.h"

namespace pelmar::ui {

// Switch: an on/off control; a user's tap flips it and sends its value-changed actions.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: toggle() is refused (returns false) unless a user could reach the switch (see ui::tap).
class Switch : public Control {
public:
    using Control::Control;

    bool isOn() const { return on_; }

    // Sets the value as code does: no actions are sent.
    void setOn(bool on);

    // A user's tap on the switch through its window; true when delivered.
    bool toggle();

protected:
    void touchUpInside() override;

    std::string className() const override { return "Switch"; }

private:
    bool on_ = false;
};

}  // namespace pelmar::ui
