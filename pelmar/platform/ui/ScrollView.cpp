#include "pelmar/platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/ui/PanGestureRecognizer.h"
#include "pelmar/platform/ui/PinchGestureRecognizer.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

ScrollView::ScrollView(Rect frame) : View(frame) {}

ScrollView::~ScrollView() = default;

void ScrollView::ensureRecognizers() {
    if (pan_) {
        return;
    }
    std::weak_ptr<View> weak = weak_from_this();
    pan_ = std::make_shared<PanGestureRecognizer>([weak](GestureRecognizer& r) {
        if (auto self = std::static_pointer_cast<ScrollView>(weak.lock())) {
            self->onPan(static_cast<PanGestureRecognizer&>(r));
        }
    });
    // The content's controls keep their touches; a drag does not cancel them.
    pan_->setCancelsTouchesInView(false);
    pinch_ = std::make_shared<PinchGestureRecognizer>([weak](GestureRecognizer& r) {
        if (auto self = std::static_pointer_cast<ScrollView>(weak.lock())) {
            self->onPinch(static_cast<PinchGestureRecognizer&>(r));
        }
    });

    // Pan and pinch share the fingers: a pinch also moves the content.
    class Together : public GestureRecognizerDelegate {
    public:
        bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) override {
            return true;
        }
    };

    static const auto together = std::make_shared<Together>();
    pan_->setDelegate(together);
    addGestureRecognizer(pan_);
    addGestureRecognizer(pinch_);
    pan_->setEnabled(scrollEnabled_);
}

std::shared_ptr<PanGestureRecognizer> ScrollView::panGestureRecognizer() {
    ensureRecognizers();
    return pan_;
}

std::shared_ptr<PinchGestureRecognizer> ScrollView::pinchGestureRecognizer() {
    ensureRecognizers();
    return pinch_;
}

void ScrollView::setContentSize(Size size) {
    internal::assertMainThread("ScrollView::setContentSize");
    ensureRecognizers();
    contentSize_ = size;
    unzoomedSize_ = Size{size.width / zoomScale_, size.height / zoomScale_};
}

void ScrollView::setContentInset(EdgeInsets insets) {
    internal::assertMainThread("ScrollView::setContentInset");
    contentInset_ = insets;
    applyOffset(clamped(contentOffset()));
}

void ScrollView::setScrollEnabled(bool enabled) {
    scrollEnabled_ = enabled;
    if (pan_) {
        pan_->setEnabled(enabled);
    }
}

Point ScrollView::minimumContentOffset() const {
    return {-contentInset_.left, -contentInset_.top};
}

Point ScrollView::maximumContentOffset() const {
    const Point low = minimumContentOffset();
    const Rect b = bounds();
    return {std::max(low.x, contentSize_.width + contentInset_.right - b.width),
            std::max(low.y, contentSize_.height + contentInset_.bottom - b.height)};
}

Point ScrollView::clamped(Point offset) const {
    const Point low = minimumContentOffset();
    const Point high = maximumContentOffset();
    return {std::clamp(offset.x, low.x, high.x), std::clamp(offset.y, low.y, high.y)};
}

void ScrollView::applyOffset(Point offset) {
    Rect b = bounds();
    if (b.origin() == offset) {
        return;
    }
    b.x = offset.x;
    b.y = offset.y;
    setBounds(b);
    contentOffsetDidChange();
    if (auto d = delegate()) {
        d->scrollViewDidScroll(*this);
    }
}

void ScrollView::setContentOffset(Point offset, bool animated) {
    internal::assertMainThread("ScrollView::setContentOffset");
    if (std::isnan(offset.x) || std::isnan(offset.y)) {
        return;
    }
    ++animation_;
    const Point target = clamped(offset);
    if (!animated) {
        applyOffset(target);
        return;
    }
    const unsigned mine = animation_;
    std::weak_ptr<View> weak = weak_from_this();
    View::animate(
            kAnimationDuration, [&] { applyOffset(target); },
            [weak, mine](bool) {
                auto self = std::static_pointer_cast<ScrollView>(weak.lock());
                if (self && self->animation_ == mine) {
                    if (auto d = self->delegate()) {
                        d->scrollViewDidEndScrollingAnimation(*self);
                    }
                }
            });
}

void ScrollView::onPan(PanGestureRecognizer& pan) {
    using State = GestureRecognizer::State;
    switch (pan.state()) {
        case State::Began:
            ++animation_;
            dragging_ = true;
            dragStart_ = contentOffset();
            draggingWillBegin();
            if (auto d = delegate()) {
                d->scrollViewWillBeginDragging(*this);
            }
            [[fallthrough]];
        case State::Changed: {
            // The content follows the finger, in window points turned into ours.
            const Point moved = pan.translation(this);
            applyOffset(clamped({dragStart_.x - moved.x, dragStart_.y - moved.y}));
            break;
        }
        case State::Ended:
        case State::Cancelled: {
            dragging_ = false;
            Point target = contentOffset();
            if (paging_) {
                const Point velocity = pan.velocity(this);
                const Rect b = bounds();
                auto page = [](double offset, double size, double v) {
                    if (size <= 0) {
                        return offset;
                    }
                    double index = std::round(offset / size);
                    if (v < -kPagingFlickVelocity) {
                        index = std::ceil(offset / size);
                    } else if (v > kPagingFlickVelocity) {
                        index = std::floor(offset / size);
                    }
                    return index * size;
                };
                target = clamped({page(target.x, b.width, velocity.x),
                                  page(target.y, b.height, velocity.y)});
            }
            const bool decelerates = paging_ && !(target == contentOffset());
            if (auto d = delegate()) {
                d->scrollViewDidEndDragging(*this, paging_);
            }
            if (paging_) {
                settle(target, decelerates);
            }
            break;
        }
        default:
            break;
    }
}

void ScrollView::settle(Point target, bool moves) {
    const unsigned mine = ++animation_;
    std::weak_ptr<View> weak = weak_from_this();
    View::animate(
            moves ? kAnimationDuration : 0.0, [&] { applyOffset(target); },
            [weak, mine](bool) {
                auto self = std::static_pointer_cast<ScrollView>(weak.lock());
                if (self && self->animation_ == mine) {
                    self->pagingDidSettle();
                    if (auto d = self->delegate()) {
                        d->scrollViewDidEndDecelerating(*self);
                    }
                }
            });
}

void ScrollView::setZoomScaleLimits(double minimum, double maximum) {
    if (std::isnan(minimum) || std::isnan(maximum) || minimum <= 0 || maximum < minimum) {
        return;
    }
    minimumZoomScale_ = minimum;
    maximumZoomScale_ = maximum;
    applyZoom(zoomScale_);
}

void ScrollView::applyZoom(double scale) {
    auto d = delegate();
    auto zooming = d ? d->viewForZooming(*this) : nullptr;
    if (!zooming || std::isnan(scale)) {
        return;
    }
    scale = std::clamp(scale, minimumZoomScale_, maximumZoomScale_);
    if (unzoomedSize_ == Size{}) {
        unzoomedSize_ = zooming->bounds().size();
    }
    zoomScale_ = scale;
    zooming->setTransform(AffineTransform::scale(scale, scale));
    contentSize_ = Size{unzoomedSize_.width * scale, unzoomedSize_.height * scale};
    // The zoomed view keeps its top left corner at the content's origin.
    zooming->setCenter({contentSize_.width / 2, contentSize_.height / 2});
    applyOffset(clamped(contentOffset()));
    d->scrollViewDidZoom(*this);
}

void ScrollView::setZoomScale(double scale, bool animated) {
    internal::assertMainThread("ScrollView::setZoomScale");
    ++animation_;
    const unsigned mine = animation_;
    std::weak_ptr<View> weak = weak_from_this();
    View::animate(
            animated ? kAnimationDuration : 0.0, [&] { applyZoom(scale); },
            [weak, mine, animated](bool) {
                auto self = std::static_pointer_cast<ScrollView>(weak.lock());
                if (!self || self->animation_ != mine) {
                    return;
                }
                if (auto d = self->delegate()) {
                    if (animated) {
                        d->scrollViewDidEndScrollingAnimation(*self);
                    }
                    d->scrollViewDidEndZooming(*self, self->zoomScale_);
                }
            });
}

void ScrollView::zoom(Rect rect, bool animated) {
    if (!(rect.width > 0) || !(rect.height > 0)) {
        return;
    }
    const double scale =
            std::clamp(std::min(bounds().width / rect.width, bounds().height / rect.height),
                       minimumZoomScale_, maximumZoomScale_);
    setZoomScale(scale, animated);
    setContentOffset(clamped({rect.x * zoomScale_, rect.y * zoomScale_}), animated);
}

void ScrollView::onPinch(PinchGestureRecognizer& pinch) {
    using State = GestureRecognizer::State;
    if (pinch.state() == State::Began) {
        pinchStartScale_ = zoomScale_;
    }
    if (pinch.state() == State::Began || pinch.state() == State::Changed) {
        applyZoom(pinchStartScale_ * pinch.scale());
    }
    if (pinch.state() == State::Ended) {
        if (auto d = delegate()) {
            d->scrollViewDidEndZooming(*this, zoomScale_);
        }
    }
}

}  // namespace pelmar::ui
