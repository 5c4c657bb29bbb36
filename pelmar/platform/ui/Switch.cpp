#include "pelmar/platform/ui/Switch.h"

namespace pelmar::ui {

bool Switch::toggle() {
    if (!isEnabled() || isHidden()) {
        return false;
    }
    on_ = !on_;
    sendActions(ControlEvent::ValueChanged);
    return true;
}

}  // namespace pelmar::ui
