#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

class Window;

// View: a node of the headless screen model: a frame, hidden and alpha flags, subviews. Nothing
// is drawn.
// Ownership: reference object made with std::make_shared; a view owns its subviews and refers to
// its superview weakly.
// Threads: main thread only.
// Errors: adding a view to itself or to one of its own subviews is ignored with a warning on
// stderr. alpha is clamped to [0, 1] (NaN counts as 0).
class View : public std::enable_shared_from_this<View> {
public:
    View() = default;
    explicit View(Rect frame);
    virtual ~View();

    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Rect frame() const { return frame_; }

    void setFrame(Rect frame) { frame_ = frame; }

    bool isHidden() const { return hidden_; }

    void setHidden(bool hidden) { hidden_ = hidden; }

    double alpha() const { return alpha_; }

    void setAlpha(double alpha);

    // Back to front.
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

    std::shared_ptr<View> superview() const { return superview_.lock(); }

    // Adds `view` on top, taking it from its previous superview.
    void addSubview(const std::shared_ptr<View>& view);

    void removeFromSuperview();

    // The window this view is in (this view itself when it is one), or null.
    std::shared_ptr<Window> window();

private:
    Rect frame_;
    bool hidden_ = false;
    double alpha_ = 1.0;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<View> superview_;
};

}  // namespace pelmar::ui
