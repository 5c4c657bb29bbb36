#include "pelmar/platform/ui/PresentationController.h"

#include <algorithm>

#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/PopoverBackgroundView.h"

namespace pelmar::ui {

PresentationController::PresentationController(const std::shared_ptr<ViewController>& presented,
                                               const std::shared_ptr<ViewController>& presenting)
    : presented_(presented),
      presenting_(presenting),
      style_(presented ? presented->modalPresentationStyle() : ModalPresentationStyle::FullScreen) {
}

PresentationController::~PresentationController() {
    // A presentation that ends without its hooks (a chain dismissed from below) still takes its
    // popover's background away.
    removePopoverBackground();
}

void PresentationController::presentationTransitionWillBegin() {
    auto container = containerView();
    auto presented = presentedViewController();
    if (style_ != ModalPresentationStyle::Popover || !container || !presented) {
        return;
    }
    if (!popoverBackground_) {
        popoverBackground_ = std::make_shared<internal::PopoverBackgroundView>(presented);
    }
    popoverBackground_->setFrame(container->bounds());
    const auto& subviews = container->subviews();
    const auto at = std::find(subviews.begin(), subviews.end(), presented->view());
    container->insertSubview(popoverBackground_, static_cast<std::size_t>(at - subviews.begin()));
}

void PresentationController::presentationTransitionDidEnd(bool completed) {
    if (!completed) {
        removePopoverBackground();
    }
}

void PresentationController::dismissalTransitionDidEnd(bool completed) {
    if (completed) {
        removePopoverBackground();
    }
}

void PresentationController::removePopoverBackground() {
    if (popoverBackground_) {
        popoverBackground_->removeFromSuperview();
    }
}

namespace {

Size orDefault(Size size, Size fallback) {
    return size.width > 0 && size.height > 0 ? size : fallback;
}

Rect centred(Size size, Rect in) {
    return Rect{in.x + (in.width - size.width) / 2, in.y + (in.height - size.height) / 2,
                size.width, size.height};
}

Rect keptInside(Rect r, Rect in) {
    r.width = std::min(r.width, in.width);
    r.height = std::min(r.height, in.height);
    r.x = std::clamp(r.x, in.minX(), in.maxX() - r.width);
    r.y = std::clamp(r.y, in.minY(), in.maxY() - r.height);
    return r;
}

}  // namespace

Rect PresentationController::frameOfPresentedViewInContainerView() const {
    auto container = containerView();
    auto presented = presentedViewController();
    if (!container) {
        return {};
    }
    const Rect all = container->bounds();
    switch (style_) {
        case ModalPresentationStyle::CurrentContext:
        case ModalPresentationStyle::OverCurrentContext: {
            auto presenting = presentingViewController();
            if (presenting && presenting->isViewLoaded()) {
                auto view = presenting->view();
                return view->convertTo(view->bounds(), container.get());
            }
            return all;
        }
        case ModalPresentationStyle::PageSheet:
        case ModalPresentationStyle::FormSheet:
        case ModalPresentationStyle::Automatic: {
            if (all.width < kRegularWidth) {
                const double top = container->safeAreaInsets().top + kSheetTopGap;
                return Rect{all.x, all.y + top, all.width, all.height - top};
            }
            const Size size = orDefault(presented ? presented->preferredContentSize() : Size{},
                                        kDefaultSheetSize);
            return keptInside(centred(size, all), all);
        }
        case ModalPresentationStyle::Popover: {
            const Size size = orDefault(presented ? presented->preferredContentSize() : Size{},
                                        kDefaultPopoverSize);
            if (const auto anchor = popoverAnchor()) {
                const double y = popoverFitsBelow(*anchor, size)
                                         ? anchor->maxY() + kPopoverArrowLength
                                         : anchor->minY() - kPopoverArrowLength - size.height;
                return keptInside({anchor->center().x - size.width / 2, y, size.width, size.height},
                                  all);
            }
            return keptInside(centred(size, all), all);
        }
        default:
            return all;
    }
}

std::optional<Rect> PresentationController::popoverAnchor() const {
    auto container = containerView();
    auto presented = presentedViewController();
    auto source = presented ? presented->popoverSourceView() : nullptr;
    if (!container || style_ != ModalPresentationStyle::Popover || !source
        || source->window().get() != container.get()) {
        return std::nullopt;
    }
    return source->convertTo(presented->popoverSourceRect().value_or(source->bounds()),
                             container.get());
}

bool PresentationController::popoverFitsBelow(Rect anchor, Size size) const {
    auto container = containerView();
    const Rect all = container ? container->bounds() : Rect{};
    // Below unless only the room above takes it.
    const double room = kPopoverArrowLength + size.height;
    return anchor.maxY() + room <= all.maxY() || anchor.minY() - room < all.minY();
}

std::optional<PresentationController::PopoverArrow> PresentationController::popoverArrow() const {
    const auto anchor = popoverAnchor();
    auto presented = presentedViewController();
    if (!anchor || !presented) {
        return std::nullopt;
    }
    const Size size = orDefault(presented->preferredContentSize(), kDefaultPopoverSize);
    if (popoverFitsBelow(*anchor, size)) {
        return PopoverArrow{{anchor->center().x, anchor->maxY()}, PopoverArrow::Edge::Top};
    }
    return PopoverArrow{{anchor->center().x, anchor->minY()}, PopoverArrow::Edge::Bottom};
}

bool PresentationController::shouldRemovePresentersView() const {
    return style_ == ModalPresentationStyle::FullScreen
           || style_ == ModalPresentationStyle::CurrentContext;
}

}  // namespace pelmar::ui
