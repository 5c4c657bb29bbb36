#include "pelmar/platform/ui/ScrollView.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;

class Zooming : public ScrollViewDelegate {
public:
    std::shared_ptr<View> viewForZooming(ScrollView&) override { return image; }

    void scrollViewDidEndDecelerating(ScrollView& s) override {
        settled.push_back(s.contentOffset());
    }

    void scrollViewDidEndZooming(ScrollView&, double scale) override { zoomEnds.push_back(scale); }

    std::shared_ptr<View> image;
    std::vector<Point> settled;
    std::vector<double> zoomEnds;
};

class ScrollViewTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        scroll_ = add(std::make_shared<ScrollView>(Rect{0, 100, 300, 400}));
        delegate_ = std::make_shared<Zooming>();
        scroll_->setDelegate(delegate_);
    }

    std::shared_ptr<ScrollView> scroll_;
    std::shared_ptr<Zooming> delegate_;
};

TEST_F(ScrollViewTest, ADragScrollsWithinTheContentAndItsInsets) {
    scroll_->setContentSize({300, 1000});
    scroll_->setContentInset({20, 0, 30, 0});
    drag({150, 400}, {150, 200}, 4, 0.1);
    EXPECT_EQ(scroll_->contentOffset(), (Point{0, 200}));
    drag({150, 200}, {150, 500}, 4, 0.1);  // past the top: stops at the inset
    EXPECT_EQ(scroll_->contentOffset(), (Point{0, -20}));
    scroll_->setContentOffset({0, 5000});
    EXPECT_EQ(scroll_->contentOffset(), (Point{0, 630}));  // 1000 + 30 - 400
}

TEST_F(ScrollViewTest, PagingSettlesOnTheNearestPageOrTheNextOneAfterAFlick) {
    struct Case {
        const char* name;
        double dragBy;   // points to the left
        double seconds;  // the whole drag
        double page;     // where it settles, in pages
    };

    const Case cases[] = {
            {"a short slow drag springs back", 100, 2.0, 0},
            {"past the middle turns the page", 200, 2.0, 1},
            {"a short flick turns the page", 60, 0.1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scroll_->setContentSize({900, 400});
        scroll_->setPagingEnabled(true);
        scroll_->setContentOffset({0, 0});
        delegate_->settled.clear();
        drag({250, 300}, {250 - c.dragBy, 300}, 4, c.seconds / 4);
        RunLoop::advance(ScrollView::kAnimationDuration);
        EXPECT_EQ(scroll_->contentOffset(), (Point{300 * c.page, 0}));
        EXPECT_EQ(delegate_->settled.size(), 1U);
    }
}

TEST_F(ScrollViewTest, PinchingZoomsTheDelegatesViewWithinTheLimits) {
    delegate_->image = std::make_shared<View>(Rect{0, 0, 300, 400});
    scroll_->addSubview(delegate_->image);
    scroll_->setContentSize({300, 400});
    scroll_->setZoomScaleLimits(0.5, 3);

    TouchSequence fingers;
    ASSERT_EQ(fingers.begin({{100, 300}, {200, 300}}), std::nullopt);
    fingers.move({{50, 300}, {250, 300}});  // twice as far apart
    EXPECT_DOUBLE_EQ(scroll_->zoomScale(), 2.0);
    EXPECT_EQ(scroll_->contentSize(), (Size{600, 800}));
    EXPECT_EQ(delegate_->image->frame(), (Rect{0, 0, 600, 800}));
    fingers.move({{0, 300}, {400, 300}});  // four times: held at the maximum
    fingers.end();
    EXPECT_DOUBLE_EQ(scroll_->zoomScale(), 3.0);
    EXPECT_EQ(delegate_->zoomEnds, std::vector<double>{3.0});

    scroll_->setContentOffset(scroll_->maximumContentOffset());
    scroll_->setZoomScale(0.1, true);  // held at the minimum; the offset comes back inside
    EXPECT_DOUBLE_EQ(scroll_->zoomScale(), 0.5);
    EXPECT_EQ(scroll_->contentOffset(), (Point{0, 0}));
    RunLoop::advance(ScrollView::kAnimationDuration);
    EXPECT_EQ(delegate_->zoomEnds, (std::vector<double>{3.0, 0.5}));
}

}  // namespace
}  // namespace pelmar::ui
