#pragma once

#include <memory>
#include <optional>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

class View;
class ViewController;

// PresentationController: decides where a presented screen sits in the container (its window)
// and whether the presenter's view leaves the window while it is covered. The base class sizes by
// the presented controller's modal presentation style:
// - FullScreen, OverFullScreen, Custom, None: the whole container;
// - CurrentContext, OverCurrentContext: the presenter's view, as it sits in the container;
// - PageSheet, FormSheet, Automatic: in a compact container (narrower than kRegularWidth) the
//   container below its top safe-area inset plus kSheetTopGap; else the preferred content size
//   (kDefaultSheetSize when none), centred;
// - Popover: the preferred content size (kDefaultPopoverSize when none) centred on its anchor
//   (the source rectangle in the source view, or the whole source view) and kPopoverArrowLength
//   below it, or as far above it when it does not fit below; else centred; kept inside the
//   container. Its arrow (popoverArrow()) reaches from that edge to the middle of the anchor's
//   edge it faces. While presented, a popover shows on a rounded panel with that arrow, both
//   in kPopoverBackgroundColor, painted under the presented view by a background view that the
//   base class's will/did hooks put into the container and take out again.
// Subclasses (from a transitioning delegate) override the frame and the will/did hooks; one that
// overrides a hook and wants the popover's background calls the base class's.
// Ownership: reference object made with std::make_shared; held by the presented controller until
// it is dismissed; refers to both controllers weakly.
// Threads: main thread only.
// Errors: none.
class PresentationController {
public:
    static constexpr double kRegularWidth = 700;
    static constexpr double kSheetTopGap = 10;
    static constexpr Size kDefaultSheetSize{540, 620};
    static constexpr Size kDefaultPopoverSize{320, 320};
    // The popover's arrow: from the popover's edge to the tip, and across its base.
    static constexpr double kPopoverArrowLength = 13;
    static constexpr double kPopoverArrowWidth = 26;
    static constexpr double kPopoverCornerRadius = 13;
    static constexpr Color kPopoverBackgroundColor{0.96, 0.96, 0.96, 1};

    PresentationController(const std::shared_ptr<ViewController>& presented,
                           const std::shared_ptr<ViewController>& presenting);
    virtual ~PresentationController();

    PresentationController(const PresentationController&) = delete;
    PresentationController& operator=(const PresentationController&) = delete;

    std::shared_ptr<ViewController> presentedViewController() const { return presented_.lock(); }

    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

    std::shared_ptr<View> containerView() const { return container_.lock(); }

    virtual Rect frameOfPresentedViewInContainerView() const;

    // A popover's arrow: its tip in container coordinates, on the anchor's edge that faces the
    // popover, and the popover's edge its base stands on: the top edge (the popover lies below
    // its anchor) or the bottom edge (above it).
    struct PopoverArrow {
        enum class Edge { Top, Bottom };

        Point tip;
        Edge edge = Edge::Top;

        bool operator==(const PopoverArrow&) const = default;
    };

    // None for other styles and for a popover without a source view in the container.
    std::optional<PopoverArrow> popoverArrow() const;

    // FullScreen and CurrentContext take the presenter's view out of the window.
    virtual bool shouldRemovePresentersView() const;

    // A popover's background goes into the container here, under the presented view.
    virtual void presentationTransitionWillBegin();

    // A popover's background leaves the container when the presentation did not complete.
    virtual void presentationTransitionDidEnd(bool completed);

    virtual void dismissalTransitionWillBegin() {}

    // A popover's background leaves the container when the dismissal completed.
    virtual void dismissalTransitionDidEnd(bool completed);

private:
    friend class ViewController;

    // The popover's anchor in container coordinates, when it has one.
    std::optional<Rect> popoverAnchor() const;
    // Whether a popover of `size` goes below `anchor` (else above).
    bool popoverFitsBelow(Rect anchor, Size size) const;
    void removePopoverBackground();

    std::weak_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    std::weak_ptr<View> container_;
    ModalPresentationStyle style_;
    // While a popover is presented: its panel and arrow, in the container.
    std::shared_ptr<View> popoverBackground_;
};

}  // namespace pelmar::ui
