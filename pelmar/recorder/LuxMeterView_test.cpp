#include "pelmar/recorder/LuxMeterView.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"

namespace pelmar {
namespace {

// What the meter shows over four looks, read from its painted pixels: the sun's colour at its
// middle and at the tip of a ray, or nothing at all while a blinking sun is off.
TEST(LuxMeterViewTest, PicksTheSunByBrightnessAndBlinksInLowLight) {
    struct Case {
        const char* name;
        double brightness;
        ui::Color sun;
        bool blinks;
    };

    const ui::Color red{1, 59 / 255.0, 48 / 255.0, 1};
    const ui::Color yellow{1, 204 / 255.0, 0, 1};
    const ui::Color white = ui::Color::white();
    const Case cases[] = {
            {"dark", -1.0, red, true},          {"dim edge", -0.5, yellow, true},
            {"dim", 0.2, yellow, true},         {"just below bright", 0.999, yellow, true},
            {"bright edge", 1.0, white, false}, {"bright", 3.0, white, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        auto meter = LuxMeterView::create(ui::Rect{0, 0, 32, 32});
        app.root()->view()->addSubview(meter);
        meter->setCurrentLuminousity(c.brightness);
        // The first look comes a second after the meter was made: a check, then the look.
        app.advance(LuxMeterView::kUpdateInterval);
        EXPECT_EQ(meter->imageView.lock()->image(), nullptr);
        std::vector<bool> shown;
        for (int look = 0; look < 4; ++look) {
            app.advance(LuxMeterView::kUpdateInterval);
            const auto painted = ui::render(*meter, 2);
            ASSERT_NE(painted, nullptr);
            const ui::Color middle = ui::test::colorAt(*painted, 16, 16);
            const ui::Color ray = ui::test::colorAt(*painted, 16, 4);
            const bool lit = middle.alpha > 0.5;
            shown.push_back(lit);
            if (lit) {
                EXPECT_TRUE(ui::test::looksLike(middle, c.sun)) << "look " << look;
                EXPECT_TRUE(ui::test::looksLike(ray, c.sun)) << "look " << look;
            } else {
                EXPECT_TRUE(ui::test::looksLike(middle, ui::Color::clear())) << "look " << look;
            }
        }
        if (c.blinks) {
            EXPECT_EQ(shown, (std::vector<bool>{false, true, false, true}));
        } else {
            EXPECT_EQ(shown, (std::vector<bool>{true, true, true, true}));
        }
    }
}

TEST(LuxMeterViewTest, LooksOnlyWhileInAWindowAndAgainWhenBackInOne) {
    test::App app;
    auto meter = LuxMeterView::create(ui::Rect{0, 0, 32, 32});
    meter->setCurrentLuminousity(3.0);
    app.advance(2.0);
    EXPECT_EQ(meter->imageView.lock()->image(), nullptr);  // never in a window: no loop

    app.root()->view()->addSubview(meter);
    // A check half a second on, and the look half a second after it.
    app.advance(LuxMeterView::kUpdateInterval);
    EXPECT_EQ(meter->imageView.lock()->image(), nullptr);
    app.advance(LuxMeterView::kUpdateInterval);
    EXPECT_EQ(meter->imageView.lock()->image()->name(), "sun-white");

    meter->removeFromSuperview();
    app.advance(1.0);
    meter->setCurrentLuminousity(-2.0);
    app.root()->view()->addSubview(meter);
    app.advance(2 * LuxMeterView::kUpdateInterval);
    EXPECT_EQ(meter->imageView.lock()->image()->name(), "sun-red");
}

}  // namespace
}  // namespace pelmar
