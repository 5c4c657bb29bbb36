#include "pelmar/platform/ui/Switch.h"

#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

void Switch::setOn(bool on) {
    internal::assertMainThread("Switch::setOn");
    on_ = on;
}

bool Switch::toggle() {
    return !ui::tap(*this).has_value();
}

void Switch::touchUpInside() {
    on_ = !on_;
    sendActions(ControlEvent::ValueChanged);
}

}  // namespace pelmar::ui
