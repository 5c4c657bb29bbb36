#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

class PageViewController;
class ScrollView;

// PageViewControllerDataSource: hands out the pages next to a page; null at either end.
// Ownership: held weakly by its page view controller.
// Threads: main thread only.
// Errors: none.
class PageViewControllerDataSource {
public:
    virtual ~PageViewControllerDataSource() = default;

    virtual std::shared_ptr<ViewController> viewControllerBefore(
            PageViewController& pageViewController,
            const std::shared_ptr<ViewController>& viewController) = 0;

    virtual std::shared_ptr<ViewController> viewControllerAfter(
            PageViewController& pageViewController,
            const std::shared_ptr<ViewController>& viewController) = 0;
};

// PageViewController: shows one page (a child controller) at a time in a horizontally or
// vertically scrolling container; with a data source a user's swipe brings in the page before or
// after. Its view holds one internal paging ScrollView (its first subview) in which the page sits
// at the middle of three page-sized slots. When a finger starts dragging, the data source's
// neighbours take the side slots (a side without one is out of reach); a drag that ends past half
// a page, or a quick flick, settles on the neighbour on the clock, which then becomes the page in
// the middle slot; a short slow drag settles back. The scroll view's delegate hears the drag
// begin, every scroll and the settling, as with a finger.
// Ownership: reference object made with std::make_shared; owns its pages as children; refers
//     to its data source weakly.
// Threads: main thread only.
// Errors: none; a swipe without a data source or at an end changes nothing and answers false.
class PageViewController : public ViewController {
public:
    enum class TransitionStyle { PageCurl, Scroll };
    enum class NavigationOrientation { Horizontal, Vertical };
    enum class NavigationDirection { Forward, Reverse };

    explicit PageViewController(
            TransitionStyle style = TransitionStyle::Scroll,
            NavigationOrientation orientation = NavigationOrientation::Horizontal);

    TransitionStyle transitionStyle() const { return transitionStyle_; }

    NavigationOrientation navigationOrientation() const { return orientation_; }

    std::shared_ptr<PageViewControllerDataSource> dataSource() const { return dataSource_.lock(); }

    void setDataSource(std::weak_ptr<PageViewControllerDataSource> dataSource) {
        dataSource_ = std::move(dataSource);
    }

    // The page shown (one, or none before the first setViewControllers).
    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
        return viewControllers_;
    }

    // Shows the first of `viewControllers`; the completion runs on a later main-loop turn.
    void setViewControllers(std::vector<std::shared_ptr<ViewController>> viewControllers,
                            NavigationDirection direction,
                            bool animated,
                            std::function<void(bool finished)> completion = nullptr);

    // The internal scroll view.
    std::shared_ptr<ScrollView> scrollView();

    // A user's swipe towards the page after (Forward) or before (Reverse) the current one.
    bool swipe(NavigationDirection direction);

    // Fits the scroll view and the page to the view's bounds; call after resizing the view.
    void layoutPages();

protected:
    void viewDidLoad() override;

private:
    // By value: `page` may be one of the neighbours it clears.
    void show(std::shared_ptr<ViewController> page);
    // The frame of slot 0 (before), 1 (the page) or 2 (after) in the scroll view.
    Rect slot(int index);
    // Makes `page` a child whose view sits in slot `index`.
    void adopt(const std::shared_ptr<ViewController>& page, int index);
    void release(const std::shared_ptr<ViewController>& page);
    // A drag begins: the neighbours of the page take the side slots.
    void placeNeighbours();
    // A drag came to rest: the neighbour it rests on becomes the page.
    void takeSettledPage();

    const TransitionStyle transitionStyle_;
    const NavigationOrientation orientation_;
    std::weak_ptr<PageViewControllerDataSource> dataSource_;
    std::vector<std::shared_ptr<ViewController>> viewControllers_;
    // The pages in the side slots while a drag is under way.
    std::shared_ptr<ViewController> before_;
    std::shared_ptr<ViewController> after_;
    std::shared_ptr<ScrollView> scrollView_;
};

}  // namespace pelmar::ui
