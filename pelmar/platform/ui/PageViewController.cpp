#include "pelmar/platform/ui/PageViewController.h"

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/ScrollView.h"

namespace pelmar::ui {

namespace {

// The pager's own scroll view: it tells its delegate about the drags a swipe makes.
class PageScrollView : public ScrollView {
public:
    using ScrollView::delegate;
    using ScrollView::ScrollView;
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
        scrollView_ = std::make_shared<PageScrollView>(root->bounds());
        root->insertSubview(scrollView_, 0);
        layoutPages();
    }
    return scrollView_;
}

void PageViewController::layoutPages() {
    auto root = view();
    const Rect bounds = root->bounds();
    scrollView_->setFrame({0, 0, bounds.width, bounds.height});
    const bool horizontal = orientation_ == NavigationOrientation::Horizontal;
    scrollView_->setContentSize(horizontal ? Size{bounds.width * 3, bounds.height}
                                           : Size{bounds.width, bounds.height * 3});
    const Point middle = horizontal ? Point{bounds.width, 0} : Point{0, bounds.height};
    if (!viewControllers_.empty()) {
        viewControllers_.front()->view()->setFrame(
                {middle.x, middle.y, bounds.width, bounds.height});
    }
    scrollView_->setContentOffset(middle);
}

void PageViewController::show(const std::shared_ptr<ViewController>& page) {
    scrollView();
    for (const auto& old : viewControllers_) {
        if (old == page) {
            continue;
        }
        old->willMove(nullptr);
        old->view()->removeFromSuperview();
        old->removeFromParent();
    }
    viewControllers_ = {page};
    if (page->parent().get() != this) {
        addChild(page);
        scrollView_->addSubview(page->view());
        page->didMove(this);
    }
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
    auto source = dataSource();
    if (!source || viewControllers_.empty()) {
        return false;
    }
    const auto current = viewControllers_.front();
    const auto next = direction == NavigationDirection::Forward
                              ? source->viewControllerAfter(*this, current)
                              : source->viewControllerBefore(*this, current);
    if (!next) {
        return false;
    }
    auto scroll = scrollView();
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
