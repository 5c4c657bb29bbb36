#include "pelmar/platform/ui/PageViewController.h"

#include <cmath>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/ScrollView.h"

namespace pelmar::ui {

namespace {

// The pager's own scroll view: it pages, and tells its pager when a finger starts dragging and
// when a drag came to rest, before its delegate (the pager's owner, often) hears it.
class PageScrollView : public ScrollView {
public:
    using ScrollView::delegate;

    PageScrollView(Rect frame, std::function<void()> dragBegins, std::function<void()> settled)
        : ScrollView(frame), dragBegins_(std::move(dragBegins)), settled_(std::move(settled)) {
        setPagingEnabled(true);
    }

protected:
    void draggingWillBegin() override { dragBegins_(); }

    void pagingDidSettle() override { settled_(); }

private:
    std::function<void()> dragBegins_;
    std::function<void()> settled_;
};

}  // namespace

PageViewController::PageViewController(TransitionStyle style, NavigationOrientation orientation)
    : transitionStyle_(style), orientation_(orientation) {}

void PageViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    scrollView();
}

std::shared_ptr<ScrollView> PageViewController::scrollView() {
    if (!scrollView_) {
        auto root = view();
        std::weak_ptr<ViewController> weak = weak_from_this();
        auto with = [weak](void (PageViewController::*f)()) {
            return [weak, f] {
                if (auto self = std::static_pointer_cast<PageViewController>(weak.lock())) {
                    ((*self).*f)();
                }
            };
        };
        scrollView_ = std::make_shared<PageScrollView>(root->bounds(),
                                                       with(&PageViewController::placeNeighbours),
                                                       with(&PageViewController::takeSettledPage));
        root->insertSubview(scrollView_, 0);
        layoutPages();
    }
    return scrollView_;
}

void PageViewController::layoutPages() {
    scrollView();
    auto root = view();
    const Rect bounds = root->bounds();
    scrollView_->setFrame({0, 0, bounds.width, bounds.height});
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    scrollView_->setContentSize(horizontal ? Size{bounds.width * 3, bounds.height}
                                           : Size{bounds.width, bounds.height * 3});
    const Point middle = horizontal ? Point{bounds.width, 0} : Point{0, bounds.height};
    if (!viewControllers_.empty()) {
        viewControllers_.front()->view()->setFrame(slot(1));
    }
    if (before_) {
        before_->view()->setFrame(slot(0));
    }
    if (after_) {
        after_->view()->setFrame(slot(2));
    }
    scrollView_->setContentOffset(middle);
}

Rect PageViewController::slot(int index) {
    const Rect bounds = view()->bounds();
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    return {horizontal ? bounds.width * index : 0, horizontal ? 0 : bounds.height * index,
            bounds.width, bounds.height};
}

void PageViewController::adopt(const std::shared_ptr<ViewController>& page, int index) {
    if (page->parent().get() != this) {
        // Sized before it enters the window, so that it appears at its size.
        page->view()->setFrame(slot(index));
        addChild(page);
        scrollView_->addSubview(page->view());
        page->didMove(this);
    } else {
        page->view()->setFrame(slot(index));
    }
}

void PageViewController::release(const std::shared_ptr<ViewController>& page) {
    if (!page || page->parent().get() != this) {
        return;
    }
    page->willMove(nullptr);
    page->view()->removeFromSuperview();
    page->removeFromParent();
}

void PageViewController::placeNeighbours() {
    auto source = dataSource();
    const auto current = viewControllers_.empty() ? nullptr : viewControllers_.front();
    auto before = source && current ? source->viewControllerBefore(*this, current) : nullptr;
    auto after = source && current ? source->viewControllerAfter(*this, current) : nullptr;
    for (auto* old : {&before_, &after_}) {
        if (*old && *old != before && *old != after) {
            release(*old);
        }
    }
    before_ = std::move(before);
    after_ = std::move(after);
    if (before_) {
        adopt(before_, 0);
    }
    if (after_) {
        adopt(after_, 2);
    }
    // A side without a page is out of the drag's reach: the content ends at the current page.
    const Rect bounds = view()->bounds();
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    const double page = horizontal ? bounds.width : bounds.height;
    EdgeInsets insets;
    (horizontal ? insets.left : insets.top) = before_ ? 0 : -page;
    (horizontal ? insets.right : insets.bottom) = after_ ? 0 : -page;
    scrollView_->setContentInset(insets);
}

void PageViewController::takeSettledPage() {
    const Rect bounds = scrollView_->bounds();
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    const double page = horizontal ? bounds.width : bounds.height;
    const double at = horizontal ? bounds.x : bounds.y;
    if (page <= 0) {
        return;
    }
    const long index = std::lround(at / page);
    if (index == 2 && after_) {
        show(after_);
    } else if (index == 0 && before_) {
        show(before_);
    } else {
        // Back on the current page: the neighbours leave until the next drag.
        release(before_);
        release(after_);
        before_.reset();
        after_.reset();
        layoutPages();
    }
}

void PageViewController::show(std::shared_ptr<ViewController> page) {
    scrollView();
    for (const auto& old : viewControllers_) {
        if (old != page) {
            release(old);
        }
    }
    for (auto* neighbour : {&before_, &after_}) {
        if (*neighbour && *neighbour != page) {
            release(*neighbour);
        }
        neighbour->reset();
    }
    viewControllers_ = {page};
    adopt(page, 1);
    scrollView_->setContentInset({});
    layoutPages();
}

void PageViewController::setViewControllers(
        std::vector<std::shared_ptr<ViewController>> viewControllers,
        NavigationDirection,
        bool,
        std::function<void(bool finished)> completion) {
    if (!viewControllers.empty() && viewControllers.front()) {
        show(viewControllers.front());
    }
    if (completion) {
        dispatch::Queue::main()->async([completion = std::move(completion)] { completion(true); });
    }
}

bool PageViewController::swipe(NavigationDirection direction) {
    if (!dataSource() || viewControllers_.empty()) {
        return false;
    }
    auto scroll = scrollView();
    placeNeighbours();
    const auto next = direction == NavigationDirection::Forward ? after_ : before_;
    if (!next) {
        takeSettledPage();
        return false;
    }
    const Rect bounds = scroll->bounds();
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    const double page = horizontal ? bounds.width : bounds.height;
    const double sign = direction == NavigationDirection::Forward ? 1 : -1;
    if (auto delegate = static_cast<PageScrollView&>(*scroll).delegate()) {
        delegate->scrollViewWillBeginDragging(*scroll);
    }
    // The drag across the seam, in steps a finger would make.
    constexpr int kSteps = 4;
    for (int step = 1; step <= kSteps; ++step) {
        const double along = page + sign * page * step / kSteps;
        scroll->setContentOffset(horizontal ? Point{along, 0} : Point{0, along});
    }
    show(next);
    return true;
}

}  // namespace pelmar::ui
