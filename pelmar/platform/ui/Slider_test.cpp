#include "pelmar/platform/ui/Slider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace pelmar::ui {
namespace {

TEST(SliderTest, KeepsTheValueWithinItsRange) {
    auto slider = std::make_shared<Slider>(Rect{0, 0, 200, 30});
    slider->setMaximumValue(10);
    slider->setValue(12);
    EXPECT_EQ(slider->value(), 10);
    slider->setValue(-1);
    EXPECT_EQ(slider->value(), 0);
    slider->setValue(NAN);
    EXPECT_EQ(slider->value(), 0);
    slider->setValue(8);
    slider->setMaximumValue(5);
    EXPECT_EQ(slider->value(), 5);
    slider->setMinimumValue(7);
    EXPECT_EQ(slider->maximumValue(), 7);
    EXPECT_EQ(slider->value(), 7);
}

TEST(SliderTest, ADragTracksMovesAndReportsTheValue) {
    auto slider = std::make_shared<Slider>(Rect{0, 0, 200, 30});
    slider->setMaximumValue(60);
    std::vector<std::string> seen;
    auto token = slider->tracking.observe([&](const foundation::Observable<bool>::Change& c) {
        seen.push_back(std::string("tracking ") + (*c.newValue ? "on" : "off"));
    });
    slider->addTarget(ControlEvent::ValueChanged, [&] {
        seen.push_back("changed " + std::to_string(static_cast<int>(slider->value()))
                       + (slider->isTracking() ? " tracking" : ""));
    });
    slider->dragTo(30);
    slider->setContinuous(false);
    slider->dragTo(40);
    slider->setEnabled(false);
    slider->dragTo(50);
    EXPECT_EQ(seen, (std::vector<std::string>{"tracking on", "changed 30 tracking", "tracking off",
                                              "tracking on", "tracking off", "changed 40"}));
    EXPECT_EQ(slider->value(), 40);
}

TEST(SliderTest, ThumbRunsAlongTheTrack) {
    auto slider = std::make_shared<Slider>(Rect{0, 0, 228, 40});
    slider->setMaximumValue(2);
    const Rect bounds{0, 0, 228, 40};
    const Rect track = slider->trackRect(bounds);
    EXPECT_EQ(track, (Rect{0, 19, 228, Slider::kTrackHeight}));
    EXPECT_EQ(slider->thumbRect(bounds, track, 0), (Rect{0, 6, 28, 28}));
    EXPECT_EQ(slider->thumbRect(bounds, track, 1), (Rect{100, 6, 28, 28}));
    EXPECT_EQ(slider->thumbRect(bounds, track, 2), (Rect{200, 6, 28, 28}));
}

}  // namespace
}  // namespace pelmar::ui
