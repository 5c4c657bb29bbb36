#include "pelmar/platform/dispatch/Clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/SteadyClock.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::dispatch {
namespace {

using ClockTest = test::MainLoopFixture;

TEST_F(ClockTest, ClockForwardsToWhicheverClockIsInstalled) {
    Clock& current = dispatch::clock();
    clock_->advance(2);
    EXPECT_EQ(current.now(), 2.0);
    EXPECT_EQ(current.wallNow(), ManualClock::kDefaultWallStart + 2);
    EXPECT_TRUE(current.isManual());

    auto other = std::make_shared<ManualClock>(100, 5);
    setClock(other);
    EXPECT_EQ(current.now(), 100.0);
    EXPECT_EQ(installedClock(), other);

    setClock(nullptr);
    EXPECT_FALSE(current.isManual());
    EXPECT_NE(std::dynamic_pointer_cast<SteadyClock>(installedClock()), nullptr);
    EXPECT_THROW(setClock(std::shared_ptr<Clock>(&current, [](Clock*) {})), std::invalid_argument);
}

TEST_F(ClockTest, AbsoluteTimeCountsFrom2001) {
    clock_->setWallNow(978307200 + 86400.5);
    EXPECT_EQ(absoluteTime(), 86400.5);
}

TEST_F(ClockTest, ANewClockKeepsWhatPendingDeadlinesStillHadToWait) {
    bool ran = false;
    Queue::main()->asyncAfter(5, [&] { ran = true; });
    RunLoop::advance(2);

    auto later = std::make_shared<ManualClock>(1000);
    setClock(later);
    RunLoop::advance(2.9);
    EXPECT_FALSE(ran);
    RunLoop::advance(0.1);
    EXPECT_TRUE(ran);
    EXPECT_EQ(later->now(), 1003.0);
}

TEST_F(ClockTest, ManualClockMovesOnlyForward) {
    struct Case {
        const char* name;
        std::function<void(ManualClock&)> move;
    };

    const Case cases[] = {
            {"negative step", [](ManualClock& c) { c.advance(-0.5); }},
            {"NaN step", [](ManualClock& c) { c.advance(std::nan("")); }},
            {"infinite step", [](ManualClock& c) { c.advance(INFINITY); }},
            {"back in time", [](ManualClock& c) { c.setNow(9); }},
            {"NaN wall time", [](ManualClock& c) { c.setWallNow(std::nan("")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock manual(10, 50);
        EXPECT_THROW(c.move(manual), std::invalid_argument);
        EXPECT_EQ(manual.now(), 10.0);
        EXPECT_EQ(manual.wallNow(), 50.0);
    }
    ManualClock manual(10, 50);
    manual.setNow(12);
    EXPECT_EQ(manual.wallNow(), 52.0) << "wall time follows";
    manual.setWallNow(0);
    EXPECT_EQ(manual.now(), 12.0) << "monotonic time does not";
}

}  // namespace
}  // namespace pelmar::dispatch
