#pragma once

#include <optional>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Control.h"

namespace pelmar::ui {

// Switch: an on/off control; a user's tap flips it and sends its value-changed actions. It is
// painted as a rounded track, in its on tint while on and a faint grey wash over what lies
// below while off, with a white round thumb at the right end while on and at the left end while
// off.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: toggle() is refused (returns false) unless a user could reach the switch (see ui::tap).
class Switch : public Control {
public:
    // The platform's own switch size; the track is drawn at it from the top left, shrunk only to
    // fit a smaller frame.
    static constexpr double kWidth = 51;
    static constexpr double kHeight = 31;

    using Control::Control;

    bool isOn() const { return on_; }

    // Sets the value as code does: no actions are sent.
    void setOn(bool on);

    // A user's tap on the switch through its window; true when delivered.
    bool toggle();

    // The track's colour while on; none: the platform's green.
    std::optional<Color> onTintColor() const { return onTintColor_; }

    void setOnTintColor(std::optional<Color> color) { onTintColor_ = color; }

    void draw(GraphicsContext& context) override;

protected:
    void touchUpInside() override;

    std::string className() const override { return "Switch"; }

private:
    bool on_ = false;
    std::optional<Color> onTintColor_;
};

}  // namespace pelmar::ui
