#include "pelmar/platform/ui/PresentationController.h"

#include <algorithm>

#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {

PresentationController::PresentationController(const std::shared_ptr<ViewController>& presented,
                                               const std::shared_ptr<ViewController>& presenting)
    : presented_(presented),
      presenting_(presenting),
      style_(presented ? presented->modalPresentationStyle() : ModalPresentationStyle::FullScreen) {
}

PresentationController::~PresentationController() = default;

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
            auto source = presented ? presented->popoverSourceView() : nullptr;
            if (source && source->window().get() == container.get()) {
                const Rect anchor = source->convertTo(source->bounds(), container.get());
                const Rect below{anchor.center().x - size.width / 2, anchor.maxY(), size.width,
                                 size.height};
                return keptInside(below, all);
            }
            return keptInside(centred(size, all), all);
        }
        default:
            return all;
    }
}

bool PresentationController::shouldRemovePresentersView() const {
    return style_ == ModalPresentationStyle::FullScreen
           || style_ == ModalPresentationStyle::CurrentContext;
}

}  // namespace pelmar::ui
