#include "pelmar/platform/ui/View.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
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
