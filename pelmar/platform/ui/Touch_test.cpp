#include "pelmar/platform/ui/Touch.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Switch.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;

class TouchTest : public test::WindowFixture {
public:
    std::shared_ptr<ViewController> root() { return root_; }
};

TEST_F(TouchTest, ATapReachesOnlyAControlAUserCouldTouch) {
    struct Case {
        const char* name;
        // Changes the scene: the button sits in `box` on the root screen.
        std::function<void(TouchTest&, Button&, View& box)> arrange;
        const char* refusal;  // a part of the reason; null when the tap is delivered
    };

    const Case cases[] = {
            {"reachable", [](TouchTest&, Button&, View&) {}, nullptr},
            {"disabled", [](TouchTest&, Button& b, View&) { b.setEnabled(false); }, "is disabled"},
            {"hidden", [](TouchTest&, Button& b, View&) { b.setHidden(true); }, "is hidden"},
            {"in a hidden container", [](TouchTest&, Button&, View& box) { box.setHidden(true); },
             "its ancestor View {0, 100, 200, 200} is hidden"},
            {"in a transparent container", [](TouchTest&, Button&, View& box) { box.setAlpha(0); },
             "is transparent"},
            {"in a container that takes no touches",
             [](TouchTest&, Button&, View& box) { box.setUserInteractionEnabled(false); },
             "takes no user interaction"},
            {"out of the window", [](TouchTest&, Button& b, View&) { b.removeFromSuperview(); },
             "is not in a window"},
            {"covered by a sibling",
             [](TouchTest&, Button&, View& box) {
                 box.addSubview(std::make_shared<View>(Rect{0, 0, 200, 200}));
             },
             "is covered by View {0, 0, 200, 200}"},
            {"under an alert",
             [](TouchTest& t, Button&, View&) {
                 t.root()->present(std::make_shared<AlertController>("Oops", "No camera"), false);
                 RunLoop::runUntilIdle();
             },
             "is not in the topmost screen"},
            {"under a full-screen screen",
             [](TouchTest& t, Button&, View&) {
                 auto cover = std::make_shared<ViewController>();
                 cover->setModalPresentationStyle(ModalPresentationStyle::FullScreen);
                 t.root()->present(cover, false);
                 RunLoop::runUntilIdle();
             },
             "is not in a window"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        auto box = add(std::make_shared<View>(Rect{0, 100, 200, 200}));
        auto button = std::make_shared<Button>(Rect{50, 50, 100, 40});
        box->addSubview(button);
        int taps = 0;
        button->addTarget(ControlEvent::TouchUpInside, [&] { ++taps; });
        c.arrange(*this, *button, *box);

        const auto refused = tap(*button);
        if (c.refusal) {
            ASSERT_TRUE(refused.has_value());
            EXPECT_NE(refused->find(c.refusal), std::string::npos) << *refused;
            EXPECT_FALSE(button->tap());
            EXPECT_EQ(taps, 0);
        } else {
            EXPECT_EQ(refused, std::nullopt);
            EXPECT_TRUE(button->tap());
            EXPECT_EQ(taps, 2);
        }
    }
}

TEST_F(TouchTest, ASwitchFlipsOnATapAndReportsWhileSetOnStaysQuiet) {
    auto control = add(std::make_shared<Switch>(Rect{10, 100, 51, 31}));
    std::vector<bool> seen;
    control->addTarget(ControlEvent::ValueChanged, [&] { seen.push_back(control->isOn()); });
    control->setOn(true);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(control->toggle());
    EXPECT_TRUE(control->toggle());
    control->setEnabled(false);
    EXPECT_FALSE(control->toggle());
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

TEST_F(TouchTest, AFingerLiftedOutsideAButtonDoesNotPressIt) {
    auto button = add(std::make_shared<Button>(Rect{100, 100, 50, 50}));
    std::vector<std::string> events;
    button->addTarget(ControlEvent::TouchDown, [&] { events.push_back("down"); });
    button->addTarget(ControlEvent::TouchUpInside, [&] { events.push_back("inside"); });
    button->addTarget(ControlEvent::TouchUpOutside, [&] { events.push_back("outside"); });

    TouchSequence finger;
    ASSERT_EQ(finger.begin({{120, 120}}), std::nullopt);
    EXPECT_TRUE(button->isHighlighted());
    finger.move({{300, 300}});
    finger.end();
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_EQ(events, (std::vector<std::string>{"down", "outside"}));
}

}  // namespace
}  // namespace pelmar::ui

namespace pelmar::ui {
namespace {

TEST_F(TouchTest, TwoSequencesAtOnceEachPressTheirOwnButtonAndARefusalLeavesNothingDown) {
    auto left = add(std::make_shared<Button>(Rect{0, 100, 100, 100}));
    auto right = add(std::make_shared<Button>(Rect{200, 100, 100, 100}));
    int lefts = 0;
    int rights = 0;
    left->addTarget(ControlEvent::TouchUpInside, [&] { ++lefts; });
    right->addTarget(ControlEvent::TouchUpInside, [&] { ++rights; });

    TouchSequence one;
    TouchSequence two;
    ASSERT_EQ(one.begin({{50, 150}}), std::nullopt);
    ASSERT_EQ(two.begin({{250, 150}}), std::nullopt);
    one.end();
    EXPECT_TRUE(right->isHighlighted());
    two.end();
    EXPECT_EQ(lefts, 1);
    EXPECT_EQ(rights, 1);

    // The second finger lands outside the window: the whole touch is refused, nothing held.
    TouchSequence both;
    EXPECT_NE(both.begin({{50, 150}, {5000, 5000}}), std::nullopt);
    EXPECT_FALSE(both.isDown());
    EXPECT_FALSE(left->isHighlighted());
    EXPECT_TRUE(left->tap());
    EXPECT_EQ(lefts, 2);
}

}  // namespace
}  // namespace pelmar::ui
