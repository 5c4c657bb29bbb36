#include "pelmar/editor/RangeSlider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Touch.h"
#include "testing/App.h"

namespace pelmar {
namespace {

// The editor's slider: 0 to 5 seconds on a 300 x 31 control.
class RangeSliderTest : public ::testing::Test {
protected:
    void SetUp() override { slider_ = place(ui::Rect{20, 200, 300, 31}, 5); }

    std::shared_ptr<RangeSlider> place(ui::Rect frame, double maximum) {
        auto slider = RangeSlider::create(frame);
        slider->setMinimumValue(0);
        slider->setMaximumValue(maximum);
        slider->setUpperValue(maximum);
        slider->addTarget(ui::ControlEvent::ValueChanged, [this] { ++events_; });
        app_.root()->view()->addSubview(slider);
        return slider;
    }

    // A finger that comes down at `fromX` (the slider's coordinates, mid height), moves to each
    // of `toX` in turn and lifts.
    void drag(RangeSlider& slider, double fromX, std::initializer_list<double> toX) {
        const double y = slider.bounds().height / 2;
        ui::TouchSequence finger(app_.window());
        if (auto refused = finger.begin({slider.convertTo(ui::Point{fromX, y}, nullptr)})) {
            ADD_FAILURE() << *refused;
            return;
        }
        for (double x : toX) {
            finger.move({slider.convertTo(ui::Point{x, y}, nullptr)});
        }
        finger.end();
    }

    double lowerCentre() const { return slider_->positionForValue(slider_->lowerValue()); }

    double upperCentre() const { return slider_->positionForValue(slider_->upperValue()); }

    test::App app_;
    std::shared_ptr<RangeSlider> slider_;
    int events_ = 0;
};

TEST_F(RangeSliderTest, PlacesThumbsByValueAndTheTrackInTheMiddleThird) {
    EXPECT_EQ(slider_->lowerThumbLayer().frame(), (ui::Rect{0, -5, 13, 50}));
    EXPECT_EQ(slider_->upperThumbLayer().frame(), (ui::Rect{287, -5, 13, 50}));
    EXPECT_EQ(slider_->trackLayer().frame(), (ui::Rect{0, 31.0 / 3, 300, 31.0 / 3}));
    EXPECT_DOUBLE_EQ(slider_->positionForValue(2.5), 150);
}

// Positions map to values as the thumbs are drawn: 287 points of travel for 5 seconds.
TEST_F(RangeSliderTest, GrabbedThumbFollowsTheFingerPointForPointAndSendsAnEventPerMove) {
    drag(*slider_, upperCentre(), {upperCentre() - 10, upperCentre() - 28.7});
    EXPECT_NEAR(slider_->upperValue(), 4.5, 1e-9);
    EXPECT_EQ(slider_->lowerValue(), 0);
    EXPECT_FALSE(slider_->lowerLayerSelected);
    EXPECT_EQ(events_, 2);
    EXPECT_FALSE(slider_->upperThumbLayer().highlighted());

    // A finger that grabs the thumb off its centre keeps that offset.
    const double start = lowerCentre() + 4;
    drag(*slider_, start, {start + 57.4});
    EXPECT_NEAR(slider_->lowerValue(), 1.0, 1e-9);
    EXPECT_TRUE(slider_->lowerLayerSelected);
    EXPECT_EQ(events_, 3);

    // Held back at a limit, the thumb meets the finger again on the way back.
    const double from = upperCentre();
    drag(*slider_, from, {from + 100, from - 57.4});
    EXPECT_NEAR(slider_->upperValue(), 3.5, 1e-9);
}

TEST_F(RangeSliderTest, DragsClampAtTheLimitsAndKeepTheGapBetweenThumbs) {
    EXPECT_DOUBLE_EQ(slider_->gapBetweenThumbs(), 0.13);

    struct Case {
        const char* name;
        double lower;
        double upper;
        bool grabLower;
        double toX;
        double expectLower;
        double expectUpper;
    } cases[] = {
            {"lower far left", 2, 5, true, -1000, 0, 5},
            {"upper far right", 0, 3, false, 1000, 0, 5},
            {"lower against upper", 0, 5, true, 1000, 4.87, 5},
            {"upper against lower", 0, 5, false, -1000, 0, 0.13},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        slider_->setLowerValue(c.lower);
        slider_->setUpperValue(c.upper);
        drag(*slider_, c.grabLower ? lowerCentre() : upperCentre(), {c.toX});
        EXPECT_EQ(slider_->lowerValue(), c.expectLower);
        EXPECT_EQ(slider_->upperValue(), c.expectUpper);
    }
}

TEST_F(RangeSliderTest, TouchOnNeitherThumbIsNotTracked) {
    drag(*slider_, upperCentre(), {upperCentre() - 1});
    ASSERT_FALSE(slider_->lowerLayerSelected);
    events_ = 0;

    drag(*slider_, 150, {100, 50});
    EXPECT_EQ(events_, 0);
    EXPECT_FALSE(slider_->lowerLayerSelected);
    EXPECT_EQ(slider_->lowerValue(), 0);
}

TEST_F(RangeSliderTest, OverlappingThumbsGrabTheLowerOne) {
    slider_->setLowerValue(2.5);
    slider_->setUpperValue(2.5);
    drag(*slider_, 150, {150 - 28.7});
    EXPECT_TRUE(slider_->lowerLayerSelected);
    EXPECT_NEAR(slider_->lowerValue(), 2.0, 1e-9);
    EXPECT_EQ(slider_->upperValue(), 2.5);
}

TEST_F(RangeSliderTest, OutsideAssignmentsAreTakenAsTheyAreAndCurvaceousnessIsClamped) {
    slider_->setLowerValue(4);
    slider_->setUpperValue(1);
    EXPECT_EQ(slider_->lowerValue(), 4);
    EXPECT_EQ(slider_->upperValue(), 1);
    EXPECT_DOUBLE_EQ(slider_->lowerThumbLayer().frame().x, slider_->positionForValue(4) - 6.5);
    EXPECT_DOUBLE_EQ(slider_->upperThumbLayer().frame().x, slider_->positionForValue(1) - 6.5);

    for (auto [given, stored] : {std::pair{2.0, 1.0}, {-1.0, 0.0}, {0.25, 0.25}}) {
        slider_->setCurvaceousness(given);
        EXPECT_EQ(slider_->curvaceousness(), stored) << given;
    }
}

TEST_F(RangeSliderTest, DrawsTheRangeAndShadesOnlyTheGrabbedThumb) {
    slider_->setTrackHighlightTintColor(ui::Color{0, 0, 1, 1});
    slider_->setLowerValue(1);
    const std::string shade = "fillColor 0 0 0 0.1";
    ui::RecordingContext plain;
    slider_->draw(plain);
    EXPECT_THAT(plain.operations(), ::testing::Contains("fillColor 0 0 1 1"));
    EXPECT_THAT(plain.operations("fillRect"),
                ::testing::Contains("fillRect 63.9 0 229.6 10.3333 r=0"));
    EXPECT_THAT(plain.operations(), ::testing::Not(::testing::Contains(shade)));

    ui::TouchSequence finger(app_.window());
    ASSERT_FALSE(finger.begin({slider_->convertTo(ui::Point{lowerCentre(), 15}, nullptr)}));
    ui::RecordingContext grabbed;
    slider_->draw(grabbed);
    EXPECT_EQ(std::count(grabbed.operations().begin(), grabbed.operations().end(), shade), 1);
    finger.end();
    ui::RecordingContext released;
    slider_->draw(released);
    EXPECT_THAT(released.operations(), ::testing::Not(::testing::Contains(shade)));
}

// A control no wider than a thumb, of zero width, or with equal limits divides by zero in the plain
// formulas; it must stay finite and leave the thumbs where they are.
TEST_F(RangeSliderTest, DegenerateGeometryNeverGivesNaN) {
    struct Case {
        const char* name;
        ui::Rect frame;
        double maximum;
        bool touchable;
    } cases[] = {
            {"width below a thumb's", {20, 300, 10, 31}, 5, true},
            {"width equal to a thumb's", {20, 350, 13, 31}, 5, true},
            {"zero width", {20, 400, 0, 31}, 5, false},
            {"maximum equal to minimum", {20, 450, 300, 31}, 0, true},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto slider = place(c.frame, c.maximum);
        const double lower = slider->lowerValue();
        const double upper = slider->upperValue();
        EXPECT_TRUE(std::isfinite(slider->gapBetweenThumbs()));
        EXPECT_TRUE(std::isfinite(slider->positionForValue(1)));
        if (c.touchable) {
            drag(*slider, slider->positionForValue(upper), {-50, 80});
        }
        EXPECT_EQ(slider->lowerValue(), lower);
        EXPECT_EQ(slider->upperValue(), upper);
        ui::RecordingContext context;
        slider->draw(context);
        for (const auto& line : context.operations()) {
            EXPECT_THAT(line, ::testing::Not(::testing::HasSubstr("nan")));
        }
    }
}

}  // namespace
}  // namespace pelmar
