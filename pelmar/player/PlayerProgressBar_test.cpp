#include "pelmar/player/PlayerProgressBar.h"

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/testing/Pixels.h"

namespace pelmar {
namespace {

// The colour of one pixel of an image, un-premultiplied.
ui::Color pixel(const ui::Image& image, int x, int y) {
    const auto& bitmap = *image.bitmap();
    const uint8_t* p = bitmap.pixel(x, y);
    const bool bgra = bitmap.layout().format == image::PixelFormat::BGRA8;
    const double a = p[3] / 255.0;
    const auto un = [&](uint8_t c) { return a > 0 ? c / 255.0 / a : 0.0; };
    return {un(bgra ? p[2] : p[0]), un(p[1]), un(bgra ? p[0] : p[2]), a};
}

void expectNear(ui::Color actual, ui::Color expected) {
    EXPECT_NEAR(actual.red, expected.red, 0.05);
    EXPECT_NEAR(actual.green, expected.green, 0.05);
    EXPECT_NEAR(actual.blue, expected.blue, 0.05);
    EXPECT_NEAR(actual.alpha, expected.alpha, 0.05);
}

TEST(PlayerProgressBarTest, DefaultThumbIsAWhiteCircleWithABlackBorder) {
    auto bar = std::make_shared<PlayerProgressBar>(ui::Rect{0, 0, 300, 40});
    const auto thumb = bar->thumbView();
    ASSERT_TRUE(thumb && thumb->bitmap());
    EXPECT_EQ(thumb->width(), 20);
    EXPECT_EQ(thumb->height(), 20);
    expectNear(pixel(*thumb, 10, 10), ui::Color::white());
    expectNear(pixel(*thumb, 10, 0), ui::Color::black());
    EXPECT_LT(pixel(*thumb, 0, 0).alpha, 0.1) << "the corners are outside the circle";
}

TEST(PlayerProgressBarTest, DrawingAppliesFlatTrackColoursAndResetsTheValue) {
    auto bar = std::make_shared<PlayerProgressBar>(ui::Rect{0, 0, 300, 40});
    bar->setMaximumValue(60);
    bar->setValue(30);
    bar->setContinuous(false);
    ui::RecordingContext context;
    bar->draw(context);

    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(bar->isContinuous());
    EXPECT_EQ(bar->minimumTrackTintColor(), (ui::Color{0, 1, 1, 1}));
    EXPECT_EQ(bar->maximumTrackTintColor(), ui::Color::white());
    EXPECT_EQ(bar->thumbImage(ui::ControlState::Normal), bar->thumbView());
    EXPECT_EQ(bar->thumbImage(ui::ControlState::Highlighted), bar->thumbView());
    ASSERT_TRUE(bar->minimumTrackImage() && bar->maximumTrackImage());
    EXPECT_EQ(bar->minimumTrackImage()->width(), 1);
    expectNear(pixel(*bar->minimumTrackImage(), 0, 0), ui::Color{0, 1, 1, 1});
    expectNear(pixel(*bar->maximumTrackImage(), 0, 0), ui::Color::white());

    // The track is barHeight high where the platform put it: not re-centred.
    const ui::Rect track = bar->trackRect({0, 0, 300, 40});
    EXPECT_EQ(track, (ui::Rect{0, 19, 300, 7}));
}

TEST(PlayerProgressBarTest, RoundedCornersLeaveTheTrackToThePlatform) {
    auto bar = std::make_shared<PlayerProgressBar>(ui::Rect{0, 0, 300, 40});
    bar->create(30, 4, ui::Color{1, 0, 0, 1}, ui::Color{0, 0, 1, 1}, true).thumbColor =
            ui::Color{0, 1, 0, 1};
    ui::RecordingContext context;
    bar->draw(context);
    EXPECT_EQ(bar->minimumTrackImage(), nullptr);
    EXPECT_EQ(bar->maximumTrackImage(), nullptr);
    EXPECT_EQ(bar->minimumTrackTintColor(), (ui::Color{1, 0, 0, 1}));
    EXPECT_EQ(bar->trackRect({0, 0, 300, 40}).height, 4);
    EXPECT_EQ(bar->thumbView()->width(), 30);
    expectNear(pixel(*bar->thumbView(), 15, 15), ui::Color{0, 1, 0, 1});
}

TEST(PlayerProgressBarTest, ThumbChangesAfterTheFirstDrawDoNotShow) {
    auto bar = std::make_shared<PlayerProgressBar>(ui::Rect{0, 0, 300, 40});
    ui::RecordingContext context;
    bar->draw(context);
    const auto first = bar->thumbView();
    bar->thumbColor = ui::Color{1, 0, 0, 1};
    bar->thumbRadius = 40;
    bar->draw(context);
    EXPECT_EQ(bar->thumbView(), first);
    EXPECT_EQ(bar->thumbImage(ui::ControlState::Normal)->width(), 20);
}

// The bar on a dark-red backdrop, painted at twice its size as a person sees it.
TEST(PlayerProgressBarTest, FirstPaintShowsItsOwnTrackAndThumbAndLaterPaintsShowTheValue) {
    const ui::Color backdrop{0.3, 0, 0, 1};
    auto host = std::make_shared<ui::View>(ui::Rect{0, 0, 300, 40});
    host->layer()->setBackgroundColor(backdrop);
    auto bar = std::make_shared<PlayerProgressBar>(ui::Rect{0, 0, 300, 40});
    host->addSubview(bar);
    bar->setMaximumValue(60);

    auto first = ui::render(*host, 2);
    ASSERT_TRUE(first);
    using ui::test::colorAt;
    using ui::test::looksLike;
    // The track runs over y 19..26 (7 points from where the platform puts its 2-point track).
    EXPECT_TRUE(looksLike(colorAt(*first, 200, 22.5), ui::Color::white()))
            << "the unplayed track is white, not the platform's grey";
    EXPECT_TRUE(looksLike(colorAt(*first, 200, 19.25), ui::Color::white())) << "a flat top edge";
    EXPECT_TRUE(looksLike(colorAt(*first, 200, 25.75), ui::Color::white())) << "a flat bottom edge";
    EXPECT_TRUE(looksLike(colorAt(*first, 200, 18.75), backdrop)) << "nothing bleeds above";
    EXPECT_TRUE(looksLike(colorAt(*first, 200, 26.25), backdrop)) << "nothing bleeds below";
    EXPECT_TRUE(looksLike(colorAt(*first, 299.75, 22.5), ui::Color::white())) << "square end";
    // The thumb: a white circle of 20 points with a black border, at the start (value 0).
    EXPECT_TRUE(looksLike(colorAt(*first, 10, 20), ui::Color::white()));
    EXPECT_TRUE(looksLike(colorAt(*first, 10, 10.25), ui::Color::black(), 0.25));
    EXPECT_TRUE(looksLike(colorAt(*first, 0.5, 10.5), backdrop)) << "outside the circle";

    bar->setValue(30);
    auto later = ui::render(*host, 2);
    ASSERT_TRUE(later);
    EXPECT_TRUE(looksLike(colorAt(*later, 60, 22.5), ui::Color{0, 1, 1, 1}))
            << "the played part is cyan";
    EXPECT_TRUE(looksLike(colorAt(*later, 250, 22.5), ui::Color::white()));
    EXPECT_EQ(bar->value(), 30) << "a paint between display passes keeps the value";
}

}  // namespace
}  // namespace pelmar
