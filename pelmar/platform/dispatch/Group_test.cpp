#include "pelmar/platform/dispatch/Group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::dispatch {
namespace {

using GroupTest = test::MainLoopFixture;

TEST_F(GroupTest, NotifyRunsOnItsQueueOnceTheCountReachesZero) {
    Group group;
    group.enter();
    group.enter();
    int notified = 0;
    group.notify(Queue::main(), [&] { ++notified; });
    group.leave();
    RunLoop::runUntilIdle();
    EXPECT_EQ(notified, 0);
    group.leave();
    EXPECT_EQ(notified, 0) << "posted, not run inline";
    RunLoop::runUntilIdle();
    EXPECT_EQ(notified, 1);

    group.notify(Queue::main(), [&] { ++notified; });  // count is zero: posted at once
    RunLoop::runUntilIdle();
    EXPECT_EQ(notified, 2);
}

TEST_F(GroupTest, WaitReturnsWhenWorkOnOtherQueuesHasLeft) {
    constexpr int kBlocks = 20;
    Group group;
    std::atomic<int> finished{0};
    for (int i = 0; i < kBlocks; ++i) {
        group.enter();
        Queue::global()->async([&] {
            ++finished;
            group.leave();
        });
    }
    group.wait();
    EXPECT_EQ(finished, kBlocks);
}

TEST_F(GroupTest, TimedWaitFollowsTheManualClock) {
    Group group;
    group.enter();
    std::atomic<bool> done{false};
    bool reached = true;
    std::thread waiter([&] {
        reached = group.waitFor(3);
        done = true;
    });
    // The waiter's deadline exists once the clock can end it; keep moving it until it does.
    ASSERT_TRUE(RunLoop::runUntil([&] {
        clock().advance(1);
        return done.load();
    }));
    waiter.join();
    EXPECT_FALSE(reached);
    EXPECT_GE(clock().now(), 3.0);

    group.leave();
    EXPECT_TRUE(group.waitFor(3));
}

TEST_F(GroupTest, UnbalancedLeaveIsIgnored) {
    Group group;
    group.leave();  // warning only
    group.enter();
    EXPECT_FALSE(group.waitFor(0)) << "the stray leave did not cancel the enter";
    group.leave();
    EXPECT_TRUE(group.waitFor(0));
}

TEST_F(GroupTest, RejectsANullQueueOrBlock) {
    Group group;
    EXPECT_THROW(group.notify(nullptr, [] {}), std::invalid_argument);
    EXPECT_THROW(group.notify(Queue::main(), nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace pelmar::dispatch
