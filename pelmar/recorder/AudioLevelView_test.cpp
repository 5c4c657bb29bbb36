#include "pelmar/recorder/AudioLevelView.h"

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "testing/App.h"

namespace pelmar {
namespace {

TEST(AudioLevelViewTest, RisesAtOnceAndFallsFromFullToEmptyOverTwentyMeasurements) {
    test::App app;
    auto meter = AudioLevelView::create(ui::Rect{0, 0, 120, 8});
    auto constraint = meter->widthConstraint.lock();
    ASSERT_NE(constraint, nullptr);
    EXPECT_EQ(constraint->constant(), -120);

    meter->setCurrentLevel(1.0);
    dispatch::RunLoop::runUntilIdle();
    EXPECT_EQ(meter->currentAudioLevel(), 1.0);
    EXPECT_EQ(constraint->constant(), 0);
    EXPECT_EQ(meter->progressBar.lock()->frame().width, 120);

    meter->setCurrentLevel(0.0);
    dispatch::RunLoop::runUntilIdle();
    EXPECT_NEAR(meter->currentAudioLevel(), 0.95, 1e-12);
    EXPECT_NEAR(constraint->constant(), -6, 1e-9);
    for (int i = 1; i < 19; ++i) {
        meter->setCurrentLevel(0.0);
    }
    EXPECT_GT(meter->currentAudioLevel(), 0.0);  // 19 measurements: not empty yet
    meter->setCurrentLevel(0.0);
    meter->setCurrentLevel(0.0);
    dispatch::RunLoop::runUntilIdle();
    EXPECT_EQ(meter->currentAudioLevel(), 0.0);
    EXPECT_EQ(constraint->constant(), -120);

    meter->setCurrentLevel(0.4);
    dispatch::RunLoop::runUntilIdle();
    EXPECT_EQ(meter->currentAudioLevel(), 0.4);
    EXPECT_NEAR(meter->progressBar.lock()->frame().width, 48, 1e-9);
}

}  // namespace
}  // namespace pelmar
