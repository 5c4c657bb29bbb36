#pragma once

#include <memory>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {
class ViewController;
}  // namespace pelmar::ui

namespace pelmar::ui::internal {

// PopoverBackgroundView: what a popover presentation shows around the presented screen. It spans
// the container, under the presented view, and paints, from where things are when it is painted,
// a rounded panel in PresentationController::kPopoverBackgroundColor behind the presented view
// and the popover's arrow in the same colour, a triangle from the panel's edge to the tip of
// popoverArrow(), its base kept clear of the panel's round corners. It fades with the presented
// view and paints nothing while that view is out of the container, hidden or transparent; the
// arrow is left out when the panel touches its tip. It takes no touches.
// Ownership: made with std::make_shared and owned by the presentation controller; refers to the
//     presented controller weakly.
// Threads: main thread only.
// Errors: none.
class PopoverBackgroundView : public View {
public:
    explicit PopoverBackgroundView(const std::shared_ptr<ViewController>& presented);

    void draw(GraphicsContext& context) override;

    std::string className() const override { return "PopoverBackgroundView"; }

private:
    std::weak_ptr<ViewController> presented_;
};

}  // namespace pelmar::ui::internal
