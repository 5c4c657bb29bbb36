#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Touch.h"

namespace pelmar::ui {
class Control;
class GestureRecognizer;
class Window;
}  // namespace pelmar::ui

namespace pelmar::ui::internal {

class GestureArena;

// TouchDispatcher: a window's touch delivery. A finger that comes down is hit-tested in the
// window to the deepest eligible view of the topmost screen; from then on its events go to the
// recognisers on that view and above (only up to an enabled control when it came down on one)
// and to that control.
// Ownership: owned by its window, which it refers to weakly.
// Threads: main thread only.
// Errors: a finger that finds no eligible view is refused with the reason.
class TouchDispatcher {
public:
    explicit TouchDispatcher(std::weak_ptr<Window> window);
    ~TouchDispatcher();

    // `touches` get their id, view, timestamp and tap count filled in.
    std::optional<std::string> began(std::vector<Touch>& touches);

    void moved(std::vector<Touch>& touches);

    void ended(std::vector<Touch>& touches);

    void cancelled(std::vector<Touch>& touches);

private:
    struct Tracked {
        std::vector<std::shared_ptr<GestureRecognizer>> recognizers;
        std::shared_ptr<Control> control;
    };

    void deliver(Touch::Phase phase, std::vector<Touch>& touches);
    void cancelControls();

    std::weak_ptr<Window> window_;
    std::map<int, Tracked> tracked_;
    std::shared_ptr<GestureArena> arena_;
    double lastTapTime_ = -1e9;
    Point lastTapPoint_;
    int lastTapCount_ = 0;
    int lastId_ = 0;
};

}  // namespace pelmar::ui::internal
