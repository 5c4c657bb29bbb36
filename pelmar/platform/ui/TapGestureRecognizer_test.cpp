#include "pelmar/platform/ui/TapGestureRecognizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {
namespace {

TEST(TapGestureRecognizerTest, ATapRunsTheActionInStateEndedWithItsLocation) {
    auto root = std::make_shared<View>(Rect{0, 0, 400, 800});
    auto bar = std::make_shared<View>(Rect{50, 100, 200, 10});
    root->addSubview(bar);
    std::vector<TapGestureRecognizer::State> states;
    Point inRoot;
    auto tap = std::make_shared<TapGestureRecognizer>([&](TapGestureRecognizer& r) {
        states.push_back(r.state());
        inRoot = r.location(root);
    });

    tap->tap({10, 5});  // not attached yet
    EXPECT_TRUE(states.empty());

    bar->addGestureRecognizer(tap);
    EXPECT_EQ(tap->view(), bar);
    tap->tap({10, 5});
    EXPECT_EQ(states, std::vector{TapGestureRecognizer::State::Ended});
    EXPECT_EQ(inRoot, (Point{60, 105}));
    EXPECT_EQ(tap->location(), (Point{10, 5}));
    EXPECT_EQ(tap->state(), TapGestureRecognizer::State::Possible);

    tap->setEnabled(false);
    tap->tap();
    EXPECT_EQ(states.size(), 1U);
}

}  // namespace
}  // namespace pelmar::ui
