#include "pelmar/platform/dispatch/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {
namespace {

using SemaphoreTest = test::MainLoopFixture;

TEST_F(SemaphoreTest, WakesWaitersInTheOrderTheyArrived) {
    constexpr int kWaiters = 5;
    Semaphore semaphore(0);

    struct {
        Mutex mutex;
        std::vector<int> order PELMAR_GUARDED_BY(mutex);
    } woken;

    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&, i] {
            semaphore.wait();
            MutexLock lock(woken.mutex);
            woken.order.push_back(i);
        });
        // The next thread starts only once this one is queued.
        ASSERT_TRUE(RunLoop::runUntil([&] { return semaphore.waitingCount() == i + 1; }));
    }
    for (int i = 0; i < kWaiters; ++i) {
        EXPECT_TRUE(semaphore.signal());
        ASSERT_TRUE(RunLoop::runUntil([&] {
            MutexLock lock(woken.mutex);
            return static_cast<int>(woken.order.size()) == i + 1;
        }));
    }
    for (auto& waiter : waiters) {
        waiter.join();
    }
    MutexLock lock(woken.mutex);
    EXPECT_EQ(woken.order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(SemaphoreTest, ANewWaiterDoesNotOvertakeAQueuedOne) {
    Semaphore semaphore(0);
    std::atomic<bool> firstDone{false};
    std::thread first([&] {
        semaphore.wait();
        firstDone = true;
    });
    ASSERT_TRUE(RunLoop::runUntil([&] { return semaphore.waitingCount() == 1; }));
    semaphore.signal();
    // The unit was handed to the queued thread, so it is not there for a newcomer to take.
    EXPECT_FALSE(semaphore.waitFor(0));
    first.join();
    EXPECT_TRUE(firstDone);
}

TEST_F(SemaphoreTest, TakesAvailableUnitsWithoutWaiting) {
    Semaphore semaphore(2);
    EXPECT_TRUE(semaphore.waitFor(0));
    EXPECT_TRUE(semaphore.waitFor(-1));
    EXPECT_FALSE(semaphore.waitFor(0));
    EXPECT_FALSE(semaphore.signal()) << "no one was waiting";
    EXPECT_TRUE(semaphore.waitFor(1));
}

TEST_F(SemaphoreTest, TimedWaitEndsWhenTheManualClockPassesItsDeadline) {
    Semaphore semaphore(0);
    std::atomic<bool> done{false};
    bool result = true;
    std::thread waiter([&] {
        result = semaphore.waitFor(5);
        done = true;
    });
    ASSERT_TRUE(RunLoop::runUntil([&] { return semaphore.waitingCount() == 1; }));
    clock().advance(4.5);
    EXPECT_EQ(semaphore.waitingCount(), 1);
    EXPECT_FALSE(done);
    clock().advance(0.5);
    ASSERT_TRUE(RunLoop::runUntil([&] { return done.load(); }));
    waiter.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(semaphore.waitingCount(), 0);
    EXPECT_FALSE(semaphore.waitFor(0)) << "a timed-out waiter takes nothing";
}

TEST_F(SemaphoreTest, SignalBeforeTheDeadlineEndsATimedWait) {
    Semaphore semaphore(0);
    bool result = false;
    std::thread waiter([&] { result = semaphore.waitFor(5); });
    ASSERT_TRUE(RunLoop::runUntil([&] { return semaphore.waitingCount() == 1; }));
    semaphore.signal();
    waiter.join();
    EXPECT_TRUE(result);
    clock().advance(10);  // the cancelled deadline fires nothing
    EXPECT_FALSE(semaphore.waitFor(0));
}

TEST_F(SemaphoreTest, RejectsANegativeCountAndANaNTimeout) {
    EXPECT_THROW(Semaphore(-1), std::invalid_argument);
    Semaphore semaphore(1);
    EXPECT_THROW((void)semaphore.waitFor(std::nan("")), std::invalid_argument);
}

}  // namespace
}  // namespace pelmar::dispatch
