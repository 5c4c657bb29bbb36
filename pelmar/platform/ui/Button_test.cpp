#include "pelmar/platform/ui/Button.h"

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/ui/Switch.h"

namespace pelmar::ui {
namespace {

TEST(ButtonTest, ATapSendsTouchUpInsideOnlyWhenEnabledAndVisible) {
    struct Case {
        const char* name;
        bool enabled;
        bool hidden;
        int sent;
    };

    const Case cases[] = {
            {"enabled", true, false, 1},
            {"disabled", false, false, 0},
            {"hidden", true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto button = std::make_shared<Button>();
        int taps = 0;
        int changes = 0;
        button->addTarget(ControlEvent::TouchUpInside, [&] { ++taps; });
        button->addTarget(ControlEvent::ValueChanged, [&] { ++changes; });
        button->setEnabled(c.enabled);
        button->setHidden(c.hidden);

        EXPECT_EQ(button->tap(), c.sent == 1);
        EXPECT_EQ(taps, c.sent);
        EXPECT_EQ(changes, 0);
        button->sendActions(ControlEvent::TouchUpInside);  // code sends regardless of the flags
        EXPECT_EQ(taps, c.sent + 1);
    }
}

TEST(ButtonTest, ShowsTheSelectedImageOnlyWhenSelectedAndSet) {
    auto button = std::make_shared<Button>();
    EXPECT_EQ(button->currentImage(), nullptr);
    auto normal = Image::named("ic_play");
    auto selected = Image::named("ic_stop");
    button->setImage(normal, ControlState::Normal);
    button->setSelected(true);
    EXPECT_EQ(button->currentImage(), normal);
    button->setImage(selected, ControlState::Selected);
    EXPECT_EQ(button->currentImage(), selected);
    button->setSelected(false);
    EXPECT_EQ(button->currentImage(), normal);
}

TEST(ButtonTest, ASwitchToggleFlipsAndReportsWhileSetOnStaysQuiet) {
    auto control = std::make_shared<Switch>();
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

}  // namespace
}  // namespace pelmar::ui
