#include "pelmar/platform/ui/Control.h"

#include <utility>

namespace pelmar::ui {

void Control::addTarget(ControlEvent event, Action action) {
    if (action) {
        actions_[event].push_back(std::move(action));
    }
}

void Control::sendActions(ControlEvent event) {
    auto it = actions_.find(event);
    if (it == actions_.end()) {
        return;
    }
    // A copy: an action may add or remove targets.
    const auto actions = it->second;
    auto keep = shared_from_this();
    for (const auto& action : actions) {
        action();
    }
}

std::size_t Control::targetCount(ControlEvent event) const {
    auto it = actions_.find(event);
    return it == actions_.end() ? 0 : it->second.size();
}

}  // namespace pelmar::ui
