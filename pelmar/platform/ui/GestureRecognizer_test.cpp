#include "pelmar/platform/ui/GestureRecognizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/LongPressGestureRecognizer.h"
#include "pelmar/platform/ui/PanGestureRecognizer.h"
#include "pelmar/platform/ui/PinchGestureRecognizer.h"
#include "pelmar/platform/ui/SwipeGestureRecognizer.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using State = GestureRecognizer::State;
using States = std::vector<State>;

class GestureRecognizerTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        pad_ = add(std::make_shared<View>(Rect{0, 100, 390, 400}));
    }

    // Attaches `r` to the pad and logs its states.
    template <typename R>
    std::shared_ptr<R> watch(std::shared_ptr<R> r, States* states) {
        r->addAction([states](GestureRecognizer& g) { states->push_back(g.state()); });
        pad_->addGestureRecognizer(r);
        return r;
    }

    std::shared_ptr<View> pad_;
};

TEST_F(GestureRecognizerTest, ASingleTapWaitsForTheDoubleTapToFail) {
    States single;
    States twice;
    auto one = watch(std::make_shared<TapGestureRecognizer>(), &single);
    auto two = watch(std::make_shared<TapGestureRecognizer>(), &twice);
    two->setNumberOfTapsRequired(2);
    one->requireToFail(two);

    ASSERT_EQ(tap(*pad_), std::nullopt);
    EXPECT_TRUE(single.empty());
    EXPECT_TRUE(one->isWaitingForFailure());
    RunLoop::advance(TapGestureRecognizer::kMaximumTapInterval);
    EXPECT_EQ(single, States{State::Ended});
    EXPECT_TRUE(twice.empty());
    EXPECT_EQ(one->state(), State::Possible);

    single.clear();
    ASSERT_EQ(tap(*pad_), std::nullopt);
    ASSERT_EQ(tap(*pad_), std::nullopt);
    RunLoop::advance(1);
    EXPECT_EQ(twice, States{State::Ended});
    EXPECT_TRUE(single.empty());
}

TEST_F(GestureRecognizerTest, APanReportsTranslationAndVelocityInTheViewsCoordinates) {
    States states;
    Point translation;
    Point velocity;
    auto pan = watch(std::make_shared<PanGestureRecognizer>(), &states);
    pan->addAction([&](GestureRecognizer&) {
        translation = pan->translation(pad_.get());
        velocity = pan->velocity(pad_.get());
    });
    pad_->setTransform(AffineTransform::scale(2, 2));  // a view drawn twice as big moves half

    drag({100, 300}, {100, 400}, 4, 0.1);
    EXPECT_EQ(states,
              (States{State::Began, State::Changed, State::Changed, State::Changed, State::Ended}));
    EXPECT_NEAR(translation.x, 0, 1e-9);
    EXPECT_NEAR(translation.y, 50, 1e-9);
    EXPECT_NEAR(velocity.y, 125, 1e-9);  // 25 window points per 0.1 s, halved
    EXPECT_EQ(pan->state(), State::Possible);
}

class Answers : public GestureRecognizerDelegate {
public:
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return mayBegin; }

    bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) override {
        return together;
    }

    bool mayBegin = true;
    bool together = false;
};

TEST_F(GestureRecognizerTest, TheDelegateDecidesWhetherToBeginAndWhetherToShare) {
    struct Case {
        const char* name;
        bool mayBegin;
        bool together;
        States pan;
        States pinch;
    };

    const Case cases[] = {
            {"the first to begin wins", true, false, {State::Began, State::Ended}, {}},
            {"both run together",
             true,
             true,
             {State::Began, State::Changed, State::Ended},
             {State::Began, State::Changed, State::Ended}},
            {"the pan may not begin", false, false, {}, {State::Began, State::Ended}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        States pans;
        States pinches;
        auto answers = std::make_shared<Answers>();
        answers->mayBegin = c.mayBegin;
        answers->together = c.together;
        auto pan = watch(std::make_shared<PanGestureRecognizer>(), &pans);
        pan->setDelegate(answers);
        auto pinch = watch(std::make_shared<PinchGestureRecognizer>(), &pinches);
        double scale = 1;
        pinch->addAction([&](GestureRecognizer&) { scale = pinch->scale(); });

        TouchSequence fingers;
        ASSERT_EQ(fingers.begin({{100, 200}, {200, 200}}), std::nullopt);
        fingers.move({{80, 230}, {220, 230}});  // apart and down: a pan and a pinch at once
        if (c.together) {
            fingers.move({{60, 230}, {240, 230}});
        }
        fingers.end();
        EXPECT_EQ(pans, c.pan);
        EXPECT_EQ(pinches, c.pinch);
        if (!pinches.empty()) {
            EXPECT_GT(scale, 1.0);
        }
        pad_->removeGestureRecognizer(pan);
        pad_->removeGestureRecognizer(pinch);
    }
}

TEST_F(GestureRecognizerTest, ALongPressBeginsOnTheClockAndFailsIfTheFingerWanders) {
    States states;
    auto press = watch(std::make_shared<LongPressGestureRecognizer>(), &states);
    {
        TouchSequence finger;
        ASSERT_EQ(finger.begin({{100, 200}}), std::nullopt);
        RunLoop::advance(0.4);
        EXPECT_TRUE(states.empty());
        RunLoop::advance(0.1);
        EXPECT_EQ(states, States{State::Began});
        finger.move({{150, 260}});
        finger.end();
    }
    EXPECT_EQ(states, (States{State::Began, State::Changed, State::Ended}));

    states.clear();
    TouchSequence finger;
    ASSERT_EQ(finger.begin({{100, 200}}), std::nullopt);
    finger.move({{100, 230}});
    RunLoop::advance(1);
    finger.end();
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(press->state(), State::Possible);
}

TEST_F(GestureRecognizerTest, ASwipeNeedsAQuickLongStrokeInItsDirection) {
    struct Case {
        const char* name;
        Point to;
        double seconds;
        bool recognized;
    };

    const Case cases[] = {
            {"right, quick", {260, 200}, 0.2, true},
            {"right, too slow", {260, 200}, 1.0, false},
            {"right, too short", {220, 200}, 0.2, false},
            {"left", {40, 200}, 0.2, false},
            {"diagonal", {260, 330}, 0.2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        States states;
        auto swipe = watch(std::make_shared<SwipeGestureRecognizer>(), &states);
        drag({180, 200}, c.to, 2, c.seconds / 2);
        EXPECT_EQ(states, c.recognized ? States{State::Ended} : States{});
        pad_->removeGestureRecognizer(swipe);
    }
}

TEST_F(GestureRecognizerTest, RecognisersOnHiddenViewsAndCoveredScreensSeeNothing) {
    States states;
    auto tapper = watch(std::make_shared<TapGestureRecognizer>(), &states);
    pad_->setHidden(true);
    Point where;
    tapper->addAction([&](GestureRecognizer& r) { where = r.location(); });
    EXPECT_NE(tap(*pad_), std::nullopt);
    EXPECT_EQ(tap(*window_, {100, 200}), std::nullopt);  // the root screen under it takes it
    EXPECT_TRUE(states.empty());

    pad_->setHidden(false);
    ASSERT_EQ(tap(*window_, {100, 200}), std::nullopt);
    EXPECT_EQ(states, States{State::Ended});
    EXPECT_EQ(where, (Point{100, 100}));

    states.clear();
    auto cover = std::make_shared<ViewController>();
    cover->setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
    root_->present(cover, false);
    RunLoop::runUntilIdle();
    EXPECT_EQ(tap(*window_, {100, 200}), std::nullopt);  // reaches the cover, not the pad
    EXPECT_NE(tap(*pad_), std::nullopt);
    EXPECT_TRUE(states.empty());
}

}  // namespace
}  // namespace pelmar::ui
