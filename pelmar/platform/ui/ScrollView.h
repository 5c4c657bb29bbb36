#pragma once

#include <memory>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class PanGestureRecognizer;
class PinchGestureRecognizer;
class ScrollView;

// ScrollViewDelegate: hears scrolling and zooming, and names the view that zooms.
// Ownership: held weakly by its scroll view.
// Threads: main thread only.
// Errors: none.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;

    virtual void scrollViewDidScroll(ScrollView& /*scrollView*/) {}

    virtual void scrollViewWillBeginDragging(ScrollView& /*scrollView*/) {}

    virtual void scrollViewDidEndDragging(ScrollView& /*scrollView*/, bool /*willDecelerate*/) {}

    // After a paging snap settled on the clock.
    virtual void scrollViewDidEndDecelerating(ScrollView& /*scrollView*/) {}

    // After setContentOffset(..., true) or setZoomScale(..., true) settled on the clock.
    virtual void scrollViewDidEndScrollingAnimation(ScrollView& /*scrollView*/) {}

    virtual void scrollViewDidZoom(ScrollView& /*scrollView*/) {}

    virtual void scrollViewDidEndZooming(ScrollView& /*scrollView*/, double /*scale*/) {}

    // The subview that zooms, or null for a scroll view that does not zoom.
    virtual std::shared_ptr<View> viewForZooming(ScrollView& /*scrollView*/) { return nullptr; }
};

// ScrollView: a view whose bounds origin is a content offset over content of contentSize, with
// insets around it. A finger drags the content (its own pan recogniser); with paging on, letting
// go settles on the nearest page, or the next one in the direction of a quick flick, on the
// clock. Two fingers zoom the delegate's zooming view between the minimum and maximum scale; the
// content size follows the zoomed view. Animated changes run kAnimationDuration seconds on the
// clock; the delegate hears the end on a later main-loop turn.
// Ownership: reference object made with std::make_shared; owns its recognisers; refers to its
// delegate weakly.
// Threads: main thread only.
// Errors: offsets are kept within the content (plus insets); zoom scales within the limits;
// a NaN is ignored.
class ScrollView : public View {
public:
    static constexpr double kAnimationDuration = 0.3;
    // A flick faster than this (points per second) turns to the next page.
    static constexpr double kPagingFlickVelocity = 300;

    explicit ScrollView(Rect frame = {});
    ~ScrollView() override;

    Size contentSize() const { return contentSize_; }

    void setContentSize(Size size);

    Point contentOffset() const { return bounds().origin(); }

    void setContentOffset(Point offset, bool animated = false);

    EdgeInsets contentInset() const { return contentInset_; }

    void setContentInset(EdgeInsets insets);

    bool isPagingEnabled() const { return paging_; }

    void setPagingEnabled(bool paging) { paging_ = paging; }

    bool isScrollEnabled() const { return scrollEnabled_; }

    void setScrollEnabled(bool enabled);

    double zoomScale() const { return zoomScale_; }

    void setZoomScale(double scale, bool animated = false);

    // Zooms so that `rect` (in the zoomed view's unzoomed coordinates) fills the bounds as far as
    // the scale limits allow, and scrolls it into view. An empty rect changes nothing.
    void zoom(Rect rect, bool animated);

    double minimumZoomScale() const { return minimumZoomScale_; }

    double maximumZoomScale() const { return maximumZoomScale_; }

    void setZoomScaleLimits(double minimum, double maximum);

    void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    std::shared_ptr<PanGestureRecognizer> panGestureRecognizer();

    std::shared_ptr<PinchGestureRecognizer> pinchGestureRecognizer();

    bool isDragging() const { return dragging_; }

    // The smallest and largest offsets the content allows.
    Point minimumContentOffset() const;

    Point maximumContentOffset() const;

protected:
    // The offset changed (by code, a drag or zoom); subclasses bring cells in and out.
    virtual void contentOffsetDidChange() {}

    // A finger starts dragging the content, before the delegate hears it; subclasses may change
    // the content or its insets here, and the drag keeps within them.
    virtual void draggingWillBegin() {}

    // A paging drag came to rest (moved or not), before the delegate hears it.
    virtual void pagingDidSettle() {}

    std::string className() const override { return "ScrollView"; }

    std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }

private:
    void ensureRecognizers();
    void onPan(PanGestureRecognizer& pan);
    void onPinch(PinchGestureRecognizer& pinch);
    void applyOffset(Point offset);
    void applyZoom(double scale);
    Point clamped(Point offset) const;
    void settle(Point target, bool paging);

    Size contentSize_;
    EdgeInsets contentInset_;
    bool paging_ = false;
    bool scrollEnabled_ = true;
    double zoomScale_ = 1;
    double minimumZoomScale_ = 1;
    double maximumZoomScale_ = 1;
    double pinchStartScale_ = 1;
    Point dragStart_;
    bool dragging_ = false;
    unsigned animation_ = 0;  // bumped to cancel a settling animation
    Size unzoomedSize_;
    std::weak_ptr<ScrollViewDelegate> delegate_;
    std::shared_ptr<PanGestureRecognizer> pan_;
    std::shared_ptr<PinchGestureRecognizer> pinch_;
};

}  // namespace pelmar::ui
