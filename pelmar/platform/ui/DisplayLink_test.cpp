#include "pelmar/platform/ui/DisplayLink.h"

#include <gtest/gtest.h>

#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar::ui {
namespace {

// Moves the clock a hair past `seconds`, so that a fire due exactly then is not lost to rounding.
void advance(double seconds) {
    dispatch::RunLoop::advance(seconds + 1e-7);
}

class DisplayLinkTest : public dispatch::test::MainLoopFixture {
protected:
    void TearDown() override {
        Screen::main().reset();
        MainLoopFixture::TearDown();
    }
};

TEST_F(DisplayLinkTest, FiresOnWholeRefreshesOfTheScreenAsTheClockMoves) {
    const struct {
        const char* name;
        int screenRate;
        int preferred;
        int firesPerSecond;
    } cases[] = {
            {"screenRate", 60, 0, 60},
            {"tenOfSixty", 60, 10, 10},
            {"aboveTheScreen", 60, 240, 60},
            {"fastScreen", 120, 0, 120},
            // 120 / 50 = 2.4 refreshes, rounded to 2: 60 fires.
            {"roundedToRefreshes", 120, 50, 60},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& base = Screen::main();
        Screen::main().configure(base.bounds().size(), base.scale(), c.screenRate,
                                 base.safeAreaInsets());
        std::vector<double> stamps;
        auto link = DisplayLink::create([&](DisplayLink& l) { stamps.push_back(l.timestamp()); });
        link->setPreferredFramesPerSecond(c.preferred);
        link->addToRunLoop(kRunLoopCommonModes);
        advance(1.0);
        EXPECT_EQ(static_cast<int>(stamps.size()), c.firesPerSecond);
        ASSERT_GE(stamps.size(), 2u);
        EXPECT_NEAR(stamps[1] - stamps[0], 1.0 / c.firesPerSecond, 1e-9);
        link->invalidate();
    }
}

TEST_F(DisplayLinkTest, FiresOnlyWhileAddedUnpausedAndValid) {
    int fires = 0;
    auto link = DisplayLink::create([&](DisplayLink&) { ++fires; });
    link->setPreferredFramesPerSecond(10);
    advance(1.0);
    EXPECT_EQ(fires, 0);  // not in the run loop yet

    link->addToRunLoop(kRunLoopCommonModes);
    advance(0.5);
    EXPECT_EQ(fires, 5);
    link->setPaused(true);
    advance(1.0);
    EXPECT_EQ(fires, 5);
    link->setPaused(false);
    advance(0.3);
    EXPECT_EQ(fires, 8);

    // Moving between modes keeps it running; leaving the last one stops it.
    link->addToRunLoop(kRunLoopDefaultMode);
    link->removeFromRunLoop(kRunLoopCommonModes);
    advance(0.2);
    EXPECT_EQ(fires, 10);
    link->removeFromRunLoop(kRunLoopDefaultMode);
    advance(1.0);
    EXPECT_EQ(fires, 10);

    link->addToRunLoop(kRunLoopCommonModes);
    link->invalidate();
    advance(1.0);
    EXPECT_EQ(fires, 10);
    EXPECT_FALSE(link->isRunning());
}

TEST_F(DisplayLinkTest, DroppingTheLastHandleStopsIt) {
    int fires = 0;
    auto link = DisplayLink::create([&](DisplayLink&) { ++fires; });
    link->addToRunLoop(kRunLoopCommonModes);
    advance(0.1);
    const int before = fires;
    link.reset();
    advance(1.0);
    EXPECT_EQ(fires, before);
}

}  // namespace
}  // namespace pelmar::ui
