#include "pelmar/platform/ui/internal/PopoverBackgroundView.h"

#include <algorithm>

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui::internal {

PopoverBackgroundView::PopoverBackgroundView(const std::shared_ptr<ViewController>& presented)
    : presented_(presented) {
    setUserInteractionEnabled(false);
}

void PopoverBackgroundView::draw(GraphicsContext& context) {
    auto presented = presented_.lock();
    auto container = superview();
    if (!presented || !container || !presented->isViewLoaded()) {
        return;
    }
    auto content = presented->view();
    if (content->superview() != container || content->isHidden() || content->alpha() <= 0) {
        return;
    }
    using P = PresentationController;
    const Rect panel = container->convertTo(content->frame(), this);
    context.setAlpha(content->alpha() * content->layer()->opacity());
    context.setFillColor(P::kPopoverBackgroundColor);
    // Panel and arrow make one path, so no seam shows where they meet.
    context.addRect(panel, P::kPopoverCornerRadius);
    const auto presentation = presented->presentationController();
    const auto arrow = presentation ? presentation->popoverArrow() : std::nullopt;
    if (arrow) {
        const Point tip = container->convertTo(arrow->tip, this);
        const bool top = arrow->edge == P::PopoverArrow::Edge::Top;
        const double baseY = top ? panel.minY() : panel.maxY();
        const double half = P::kPopoverArrowWidth / 2;
        const double lowest = panel.minX() + P::kPopoverCornerRadius + half;
        const double highest = panel.maxX() - P::kPopoverCornerRadius - half;
        // The tip stays on the anchor; the base slides along the edge but not onto a corner.
        const double baseX =
                lowest <= highest ? std::clamp(tip.x, lowest, highest) : panel.center().x;
        if ((top ? baseY - tip.y : tip.y - baseY) >= 1) {
            context.moveTo({baseX - half, baseY});
            context.lineTo(tip);
            context.lineTo({baseX + half, baseY});
            context.closePath();
        }
    }
    context.fillPath();
}

}  // namespace pelmar::ui::internal
