#include "pelmar/platform/dispatch/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::dispatch {
namespace {

class TimerTest : public test::MainLoopFixture {
protected:
    // Records the clock at each fire.
    std::function<void()> recordFire() {
        return [this] { fires_.push_back(clock().now()); };
    }

    std::vector<double> fires_;
};

TEST_F(TimerTest, RepeatingTimerFiresOncePerIntervalOnTheMainThread) {
    bool onMain = true;
    auto timer = Timer::scheduled(1.0, true, [&](Timer& fired) {
        onMain = onMain && isMainThread();
        fires_.push_back(clock().now());
        EXPECT_TRUE(fired.isValid());
    });
    RunLoop::advance(3.5);
    EXPECT_EQ(fires_, (std::vector<double>{1, 2, 3}));
    RunLoop::advance(0.5);
    EXPECT_EQ(fires_.back(), 4.0);
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
}

TEST_F(TimerTest, OneShotTimerFiresOnceThenIsInvalid) {
    auto timer = Timer::scheduled(0.25, false, recordFire());
    RunLoop::advance(0.2);
    EXPECT_TRUE(fires_.empty());
    EXPECT_TRUE(timer->isValid());
    RunLoop::advance(1);
    EXPECT_EQ(fires_, (std::vector<double>{0.25}));
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, TheRunLoopKeepsATimerWhoseHandleWasDropped) {
    Timer::scheduled(1.0, false, recordFire());
    RunLoop::advance(1);
    EXPECT_EQ(fires_.size(), 1u);
}

TEST_F(TimerTest, InvalidateOnMainStopsAFireAlreadyDue) {
    std::shared_ptr<Timer> timer;
    // Scheduled first, so at t = 1 it runs just before the timer's fire, which is then due.
    Queue::main()->asyncAfter(1.0, [&] { timer->invalidate(); });
    timer = Timer::scheduled(1.0, true, recordFire());
    RunLoop::advance(3);
    EXPECT_TRUE(fires_.empty());
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, InvalidateFromAnotherThreadStopsTheTimer) {
    auto timer = Timer::scheduled(1.0, true, recordFire());
    RunLoop::advance(1);
    ASSERT_EQ(fires_.size(), 1u);
    std::thread([timer] {
        timer->invalidate();
        timer->invalidate();  // idempotent
    }).join();
    RunLoop::advance(5);
    EXPECT_EQ(fires_.size(), 1u);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, InvalidateReleasesTheAction) {
    auto owner = std::make_shared<int>(0);
    auto timer = Timer::scheduled(1.0, true, [owner] { ++*owner; });
    EXPECT_EQ(owner.use_count(), 2);
    timer->invalidate();
    EXPECT_EQ(owner.use_count(), 1);
}

TEST_F(TimerTest, ALateRepeatingTimerFiresOnceAndKeepsItsSchedule) {
    auto timer = Timer::scheduled(1.0, true, recordFire());
    clock().advance(3.5);  // time jumps while the main loop is busy elsewhere
    RunLoop::runUntilIdle();
    EXPECT_EQ(fires_, (std::vector<double>{3.5}));
    RunLoop::advance(1);
    EXPECT_EQ(fires_, (std::vector<double>{3.5, 4.0}));
    timer->invalidate();
}

TEST_F(TimerTest, TinyIntervalsAreRaisedToTheMinimum) {
    auto timer = Timer::scheduled(0.0, true, recordFire());
    EXPECT_EQ(timer->interval(), Timer::kMinimumInterval);
    RunLoop::advance(10 * Timer::kMinimumInterval);
    EXPECT_EQ(fires_.size(), 10u);
    timer->invalidate();
}

TEST_F(TimerTest, RejectsANaNIntervalAndAnEmptyAction) {
    EXPECT_THROW(Timer::scheduled(std::nan(""), true, [] {}), std::invalid_argument);
    EXPECT_THROW(Timer::scheduled(1.0, true, std::function<void()>()), std::invalid_argument);
}

}  // namespace
}  // namespace pelmar::dispatch
