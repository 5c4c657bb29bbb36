#include "pelmar/platform/dispatch/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "pelmar/platform/dispatch/Semaphore.h"

namespace pelmar::dispatch {
namespace {

TEST(OperationQueueTest, WithAMaximumOfOneRunsOperationsOneAtATimeInOrder) {
    constexpr int kOperations = 200;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::vector<int> order;  // touched only by the operations: TSan checks the exclusion
    for (int i = 0; i < kOperations; ++i) {
        queue.addOperation([&, i] {
            if (inside.exchange(true)) {
                overlapped = true;
            }
            order.push_back(i);
            inside = false;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), static_cast<size_t>(kOperations));
    for (int i = 0; i < kOperations; ++i) {
        ASSERT_EQ(order[i], i);
    }
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueTest, ByDefaultRunsOperationsSideBySide) {
    OperationQueue queue;
    Semaphore firstStarted;
    Semaphore secondStarted;
    // Each waits for the other to start: both finish only when they run at once.
    queue.addOperation([&] {
        firstStarted.signal();
        secondStarted.wait();
    });
    queue.addOperation([&] {
        secondStarted.signal();
        firstStarted.wait();
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueTest, CancelAllDropsOperationsThatHaveNotStarted) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Semaphore started;
    Semaphore release;
    std::atomic<int> ran{0};
    queue.addOperation([&] {
        started.signal();
        release.wait();
        ++ran;
    });
    started.wait();
    for (int i = 0; i < 5; ++i) {
        queue.addOperation([&] { ++ran; });
    }
    EXPECT_EQ(queue.operationCount(), 6u);
    queue.cancelAllOperations();
    EXPECT_EQ(queue.operationCount(), 1u) << "the running one finishes";
    release.signal();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 1);
}

TEST(OperationQueueTest, DestroyingTheQueueDropsWaitingOperations) {
    Semaphore started;
    Semaphore release;
    Semaphore finished;
    auto captured = std::make_shared<int>(0);
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation([&] {
            started.signal();
            release.wait();
            finished.signal();
        });
        started.wait();
        queue.addOperation([captured] { ++*captured; });
    }  // does not wait for the running operation
    EXPECT_EQ(captured.use_count(), 1) << "the waiting operation was dropped";
    release.signal();
    finished.wait();
    EXPECT_EQ(*captured, 0);
}

TEST(OperationQueueTest, RejectsBadLimitsAndEmptyOperations) {
    OperationQueue queue;
    for (int count : {0, -2, -100}) {
        SCOPED_TRACE(count);
        EXPECT_THROW(queue.setMaxConcurrentOperationCount(count), std::invalid_argument);
    }
    EXPECT_EQ(queue.maxConcurrentOperationCount(),
              OperationQueue::kDefaultMaxConcurrentOperationCount);
    EXPECT_THROW(queue.addOperation(nullptr), std::invalid_argument);
}

TEST(OperationQueueTest, WaitingFromOneOfItsOwnOperationsAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
            {
                OperationQueue queue;
                queue.addOperation([&] { queue.waitUntilAllOperationsAreFinished(); });
                queue.waitUntilAllOperationsAreFinished();
            },
            "would wait for itself");
}

}  // namespace
}  // namespace pelmar::dispatch
