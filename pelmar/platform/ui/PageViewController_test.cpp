#include "pelmar/platform/ui/PageViewController.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;

// Three pages of plain colours, handed out by their place in the row.
class Row : public PageViewControllerDataSource {
public:
    Row() {
        for (Color c : {Color{1, 0, 0, 1}, Color{0, 1, 0, 1}, Color{0, 0, 1, 1}}) {
            auto page = std::make_shared<ViewController>();
            page->view()->layer()->setBackgroundColor(c);
            pages.push_back(page);
            colors.push_back(c);
        }
    }

    std::shared_ptr<ViewController> viewControllerBefore(
            PageViewController&, const std::shared_ptr<ViewController>& page) override {
        const int i = indexOf(page);
        return i > 0 ? pages[i - 1] : nullptr;
    }

    std::shared_ptr<ViewController> viewControllerAfter(
            PageViewController&, const std::shared_ptr<ViewController>& page) override {
        const int i = indexOf(page);
        return i >= 0 && i + 1 < static_cast<int>(pages.size()) ? pages[i + 1] : nullptr;
    }

    int indexOf(const std::shared_ptr<ViewController>& page) const {
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (pages[i] == page) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    std::vector<std::shared_ptr<ViewController>> pages;
    std::vector<Color> colors;
};

class PageViewControllerTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        pager_ = std::make_shared<PageViewController>();
        root_->addChild(pager_);
        pager_->view()->setFrame(root_->view()->bounds());
        root_->view()->addSubview(pager_->view());
        pager_->didMove(root_.get());
        pager_->setDataSource(row_);
        pager_->setViewControllers({row_->pages[0]},
                                   PageViewController::NavigationDirection::Forward, false);
        RunLoop::runUntilIdle();
    }

    int current() const { return row_->indexOf(pager_->viewControllers().front()); }

    // The colour a person sees at `x` across the middle of the screen.
    Color seenAt(double x) {
        auto picture = render(*window_);
        return picture ? test::colorAt(*picture, x, 422) : Color::clear();
    }

    std::shared_ptr<Row> row_ = std::make_shared<Row>();
    std::shared_ptr<PageViewController> pager_;
};

TEST_F(PageViewControllerTest, AFingerSwipePagesOnlyPastHalfAPageOrWithAFlick) {
    struct Case {
        const char* name;
        double by;       // points; to the left is positive
        double seconds;  // the whole stroke
        int page;        // where it settles
    };

    const Case cases[] = {
            {"past half a page", 280, 0.16, 1},
            {"a short quick flick", 60, 0.05, 1},
            {"a short slow drag settles back", 100, 2.0, 0},
            {"slowly past half a page", 250, 3.0, 1},
            {"nothing before the first page", -280, 0.16, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pager_->setViewControllers({row_->pages[0]},
                                   PageViewController::NavigationDirection::Forward, false);
        drag({200 + c.by / 2, 400}, {200 - c.by / 2, 400}, 4, c.seconds / 4);
        RunLoop::advance(ScrollView::kAnimationDuration);
        RunLoop::runUntilIdle();
        EXPECT_EQ(current(), c.page);
        EXPECT_EQ(pager_->scrollView()->contentOffset(), (Point{390, 0}));
        EXPECT_TRUE(test::looksLike(seenAt(20), row_->colors[c.page]));
        EXPECT_TRUE(test::looksLike(seenAt(370), row_->colors[c.page]));
        // Only the page on screen stays a child.
        EXPECT_EQ(pager_->children().size(), 1u);
    }
}

TEST_F(PageViewControllerTest, TheNeighbourFollowsTheFingerAndTheLastPageEndsTheRow) {
    TouchSequence finger;
    ASSERT_EQ(finger.begin({{300, 400}}), std::nullopt);
    RunLoop::advance(0.1);
    finger.move({{200, 400}});
    // The first page's right part has gone left; the second page shows where it was.
    EXPECT_TRUE(test::looksLike(seenAt(250), row_->colors[0]));
    EXPECT_TRUE(test::looksLike(seenAt(330), row_->colors[1]));
    RunLoop::advance(0.1);
    finger.move({{60, 400}});
    finger.end();
    RunLoop::advance(ScrollView::kAnimationDuration);
    RunLoop::runUntilIdle();
    ASSERT_EQ(current(), 1);

    drag({300, 400}, {20, 400}, 4, 0.04);
    RunLoop::advance(ScrollView::kAnimationDuration);
    RunLoop::runUntilIdle();
    ASSERT_EQ(current(), 2);
    // Past the last page the content ends: the drag cannot show an empty slot.
    drag({300, 400}, {20, 400}, 4, 0.04);
    EXPECT_EQ(pager_->scrollView()->contentOffset(), (Point{390, 0}));
    RunLoop::advance(ScrollView::kAnimationDuration);
    RunLoop::runUntilIdle();
    EXPECT_EQ(current(), 2);
    EXPECT_TRUE(test::looksLike(seenAt(200), row_->colors[2]));

    // A swipe by code walks back the same road.
    EXPECT_TRUE(pager_->swipe(PageViewController::NavigationDirection::Reverse));
    EXPECT_EQ(current(), 1);
    EXPECT_TRUE(test::looksLike(seenAt(200), row_->colors[1]));
}

}  // namespace
}  // namespace pelmar::ui
