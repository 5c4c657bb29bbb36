#include "pelmar/recorder/LuxMeterView.h"

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/recorder/testing/ResourcePictures.h"
#include "testing/App.h"

namespace pelmar {
namespace {

// What the meter shows over four looks: the image, and whether it blinks.
TEST(LuxMeterViewTest, PicksTheSunByBrightnessAndBlinksInLowLight) {
    struct Case {
        const char* name;
        double brightness;
        const char* image;
        bool blinks;
    };

    const Case cases[] = {
            {"dark", -1.0, "sun-red", true},
            {"dim edge", -0.5, "sun-yellow", true},
            {"dim", 0.2, "sun-yellow", true},
            {"just below bright", 0.999, "sun-yellow", true},
            {"bright edge", 1.0, "sun-white", false},
            {"bright", 3.0, "sun-white", false},
    };
    for (const char* sun : {"sun-red", "sun-yellow", "sun-white"}) {
        if (!test::ResourcePictureShips(sun)) {
            GTEST_SKIP() << sun << " does not ship in the resource folder";
        }
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        auto meter = LuxMeterView::create(ui::Rect{0, 0, 32, 32});
        app.root()->view()->addSubview(meter);
        meter->setCurrentLuminousity(c.brightness);
        auto image = meter->imageView.lock();
        // The first look comes a second after the meter was made: a check, then the look.
        app.advance(LuxMeterView::kUpdateInterval);
        EXPECT_EQ(image->image(), nullptr);
        std::vector<bool> hidden;
        for (int look = 0; look < 4; ++look) {
            app.advance(LuxMeterView::kUpdateInterval);
            ASSERT_NE(image->image(), nullptr);
            EXPECT_TRUE(test::ShowsResourcePicture(image->image(), c.image));
            hidden.push_back(image->isHidden());
        }
        if (c.blinks) {
            EXPECT_EQ(hidden, (std::vector<bool>{true, false, true, false}));
        } else {
            EXPECT_EQ(hidden, (std::vector<bool>{false, false, false, false}));
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
