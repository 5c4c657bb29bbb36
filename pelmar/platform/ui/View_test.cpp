#include "pelmar/platform/ui/View.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {
namespace {

using Views = std::vector<std::shared_ptr<View>>;

TEST(ViewTest, AddSubviewMovesAViewBetweenParents) {
    auto first = std::make_shared<View>();
    auto second = std::make_shared<View>();
    auto child = std::make_shared<View>(Rect{1, 2, 3, 4});
    first->addSubview(child);
    EXPECT_EQ(child->superview(), first);

    second->addSubview(child);
    EXPECT_EQ(child->superview(), second);
    EXPECT_TRUE(first->subviews().empty());
    EXPECT_EQ(second->subviews(), Views{child});

    child->removeFromSuperview();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_TRUE(second->subviews().empty());
    EXPECT_EQ(child->frame(), (Rect{1, 2, 3, 4}));
}

TEST(ViewTest, RefusesToMakeAViewItsOwnAncestor) {
    auto top = std::make_shared<View>();
    auto middle = std::make_shared<View>();
    auto leaf = std::make_shared<View>();
    top->addSubview(middle);
    middle->addSubview(leaf);

    leaf->addSubview(top);  // would be a cycle: ignored
    middle->addSubview(middle);
    EXPECT_EQ(top->superview(), nullptr);
    EXPECT_EQ(middle->subviews(), Views{leaf});
    EXPECT_TRUE(leaf->subviews().empty());
}

TEST(ViewTest, WindowIsTheNearestWindowAbove) {
    auto window = std::make_shared<Window>();
    auto parent = std::make_shared<View>();
    auto child = std::make_shared<View>();
    parent->addSubview(child);
    EXPECT_EQ(child->window(), nullptr);
    window->addSubview(parent);
    EXPECT_EQ(child->window(), window);
    EXPECT_EQ(window->window(), window);
}

TEST(ViewTest, AlphaStaysBetweenZeroAndOne) {
    struct Case {
        double given;
        double kept;
    };

    const Case cases[] = {{0.5, 0.5}, {-1, 0}, {2, 1}, {std::nan(""), 0}, {INFINITY, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        auto view = std::make_shared<View>();
        view->setAlpha(c.given);
        EXPECT_EQ(view->alpha(), c.kept);
    }
}

using ViewAnimationTest = dispatch::test::MainLoopFixture;

TEST_F(ViewAnimationTest, AnimationsApplyAtOnceAndCompleteAfterTheirDurationOnTheClock) {
    auto view = std::make_shared<View>();
    bool finished = false;
    View::animate(
            0.25, [&] { view->layer()->setOpacity(0.0); }, [&](bool done) { finished = done; });
    EXPECT_EQ(view->layer()->opacity(), 0.0);
    dispatch::RunLoop::advance(0.2);
    EXPECT_FALSE(finished);
    dispatch::RunLoop::advance(0.05);
    EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace pelmar::ui

namespace pelmar::ui {
namespace {

TEST(ViewTest, ConvertsPointsThroughBoundsOriginsAndTransforms) {
    auto top = std::make_shared<View>(Rect{0, 0, 400, 800});
    auto scroller = std::make_shared<View>(Rect{0, 100, 400, 400});
    scroller->setBounds({0, 50, 400, 400});  // scrolled down by 50
    auto item = std::make_shared<View>(Rect{100, 100, 100, 100});
    item->setTransform(AffineTransform::scale(2, 2));  // around its centre (150, 150)
    top->addSubview(scroller);
    scroller->addSubview(item);

    EXPECT_EQ(item->frame(), (Rect{50, 50, 200, 200}));
    const Point corner = item->convertTo(Point{0, 0}, top.get());
    EXPECT_EQ(corner, (Point{50, 100}));  // 50 in the scroller, minus 50 scrolled, plus 100
    EXPECT_EQ(item->convertFrom(corner, top.get()), (Point{0, 0}));
    EXPECT_EQ(top->convertTo(Point{60, 110}, item.get()), (Point{5, 5}));
    EXPECT_EQ(item->convertTo(Rect{0, 0, 100, 100}, nullptr), (Rect{50, 100, 200, 200}));

    // Hit-testing uses the same geometry: the scaled item covers (50, 100)-(250, 300) on top.
    EXPECT_EQ(top->hitTest({240, 290}), item);
    EXPECT_EQ(top->hitTest({260, 290}), scroller);
    item->setUserInteractionEnabled(false);
    EXPECT_EQ(top->hitTest({240, 290}), scroller);
}

// Counts its layout passes and places its one subview across its width.
class Row : public View {
public:
    using View::View;

    int passes = 0;

protected:
    void layoutSubviews() override {
        ++passes;
        if (!subviews().empty()) {
            subviews().front()->setFrame({0, 0, bounds().width, 10});
        }
    }
};

TEST(ViewTest, LayoutRunsOnceForAMarkedViewAndReachesItsSubviews) {
    auto row = std::make_shared<Row>(Rect{0, 0, 100, 50});
    auto inner = std::make_shared<Row>();
    row->addSubview(inner);
    row->layoutIfNeeded();
    EXPECT_EQ(row->passes, 1);
    EXPECT_EQ(inner->frame(), (Rect{0, 0, 100, 10}));
    EXPECT_EQ(inner->passes, 1);
    row->layoutIfNeeded();
    EXPECT_EQ(row->passes, 1);

    row->setFrame({0, 0, 200, 50});
    row->layoutIfNeeded();
    EXPECT_EQ(row->passes, 2);
    EXPECT_EQ(inner->frame().width, 200);
}

#ifndef NDEBUG
TEST(ViewTest, ALabelWrittenOffTheMainThreadAbortsInDebugBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
            {
                dispatch::RunLoop::runUntilIdle();  // this thread is the main thread
                auto label = std::make_shared<Label>();
                label->setText("on main");
                std::thread([&] { label->setText("elsewhere"); }).join();
            },
            "Label::setText called off the main thread");
}
#endif

}  // namespace
}  // namespace pelmar::ui
