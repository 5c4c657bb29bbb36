#include "pelmar/platform/sync/Mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pelmar {
namespace {

struct Flag {
    Mutex mutex;
    CondVar changed;
    bool set PELMAR_GUARDED_BY(mutex) = false;
};

// try_lock on a std::mutex the caller already holds is undefined, so every probe runs on a
// thread of its own.
bool lockIsFreeElsewhere(Mutex& mutex) {
    bool free = false;
    std::thread([&] {
        if (mutex.try_lock()) {
            mutex.unlock();
            free = true;
        }
    }).join();
    return free;
}

TEST(MutexTest, TryLockFailsWhileAnotherThreadHoldsItAndSucceedsOnceReleased) {
    Mutex mutex;
    {
        MutexLock lock(mutex);
        EXPECT_FALSE(lockIsFreeElsewhere(mutex));
    }
    EXPECT_TRUE(lockIsFreeElsewhere(mutex));

    if (mutex.try_lock()) {
        EXPECT_FALSE(lockIsFreeElsewhere(mutex));
        mutex.unlock();
    } else {
        ADD_FAILURE() << "try_lock failed on a free mutex";
    }
}

TEST(MutexTest, WaitReleasesTheLockUntilAnotherThreadChangesTheConditionAndNotifies) {
    Flag flag;
    // The setter can only take the mutex if wait() released it; otherwise this test hangs.
    std::thread setter([&] {
        MutexLock lock(flag.mutex);
        flag.set = true;
        flag.changed.notifyAll();
    });
    {
        MutexLock lock(flag.mutex);
        while (!flag.set) {
            flag.changed.wait(flag.mutex);
        }
        EXPECT_TRUE(flag.set);
    }
    setter.join();
}

TEST(MutexTest, TimedWaitsReportTheDeadlineAndReturnHoldingTheLock) {
    Flag flag;
    MutexLock lock(flag.mutex);
    EXPECT_FALSE(flag.changed.waitUntil(flag.mutex, std::chrono::steady_clock::now()));
    EXPECT_FALSE(flag.changed.waitFor(flag.mutex, std::chrono::milliseconds(0)));
    EXPECT_FALSE(lockIsFreeElsewhere(flag.mutex));

    std::thread setter([&] {
        MutexLock setterLock(flag.mutex);
        flag.set = true;
        flag.changed.notifyOne();
    });
    // A notification, or a spurious wake, before the (generous) deadline reports true.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!flag.set) {
        ASSERT_TRUE(flag.changed.waitUntil(flag.mutex, deadline));
    }
    EXPECT_FALSE(lockIsFreeElsewhere(flag.mutex));
    setter.join();
}

}  // namespace
}  // namespace pelmar
