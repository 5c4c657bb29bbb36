#include "pelmar/platform/dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/Semaphore.h"
#include "pelmar/platform/dispatch/internal/ThreadPool.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::dispatch {
namespace {

using QueueTest = test::MainLoopFixture;

TEST_F(QueueTest, SerialQueueRunsBlocksOneAtATimeInFifoOrder) {
    constexpr int kBlocks = 1000;
    auto queue = Queue::serial("test.serial");
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::vector<int> order;  // touched only by the queue's blocks: TSan checks the exclusion
    std::atomic<int> finished{0};
    for (int i = 0; i < kBlocks; ++i) {
        queue->async([&, i] {
            if (inside.exchange(true)) {
                overlapped = true;
            }
            order.push_back(i);
            inside = false;
            ++finished;
        });
    }
    ASSERT_TRUE(RunLoop::runUntil([&] { return finished == kBlocks; }));
    EXPECT_FALSE(overlapped);
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_EQ(order[i], i);
    }
}

TEST_F(QueueTest, SerialSyncWaitsForEarlierBlocksAndHoldsTheQueue) {
    auto queue = Queue::serial("test.sync");
    std::vector<int> items;
    for (int i = 0; i < 100; ++i) {
        queue->async([&items, i] { items.push_back(i); });
    }
    const auto seen = queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        return items.size();
    });
    EXPECT_EQ(seen, 100u);
}

TEST_F(QueueTest, SyncReturnsTheValueAndRethrowsOnEveryKindOfQueue) {
    struct Case {
        const char* name;
        std::shared_ptr<Queue> queue;
    };

    const Case cases[] = {
            {"serial", Queue::serial("test.serial")},
            {"concurrent", Queue::concurrent("test.concurrent")},
            {"global", Queue::global()},
            {"main", Queue::main()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> done{false};
        int value = 0;
        bool rethrown = false;
        // From another thread, so that the main queue's sync is legal; the test pumps the loop.
        std::thread caller([&] {
            value = c.queue->sync([&] { return c.queue->isCurrent() ? 7 : -1; });
            try {
                c.queue->sync([] { throw std::runtime_error("inside"); });
            } catch (const std::runtime_error& error) {
                rethrown = std::string(error.what()) == "inside";
            }
            done = true;
        });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done.load(); }));
        caller.join();
        EXPECT_EQ(value, 7);
        EXPECT_TRUE(rethrown);
    }
}

TEST_F(QueueTest, ConcurrentQueueRunsBlocksSideBySide) {
    auto queue = Queue::concurrent("test.concurrent");
    Semaphore firstStarted;
    Semaphore secondStarted;
    std::atomic<int> finished{0};
    // Each block waits for the other to start: they finish only when they run at once.
    queue->async([&] {
        firstStarted.signal();
        secondStarted.wait();
        ++finished;
    });
    queue->async([&] {
        secondStarted.signal();
        firstStarted.wait();
        ++finished;
    });
    EXPECT_TRUE(RunLoop::runUntil([&] { return finished == 2; }));
}

TEST_F(QueueTest, BackgroundQueuesAreIdleOnlyWhileNoBlockThatCanRunWaitsOrRuns) {
    ASSERT_TRUE(RunLoop::runUntil(backgroundQueuesAreIdle));
    auto queue = Queue::serial("test.idle");
    std::latch release(1);
    queue->async([&] { release.wait(); });
    queue->async([] {});
    EXPECT_FALSE(backgroundQueuesAreIdle());
    release.count_down();
    EXPECT_TRUE(RunLoop::runUntil(backgroundQueuesAreIdle));

    // Work that cannot run (a suspended queue's) or that the main loop runs does not count.
    auto suspended = Queue::serial("test.idle.suspended");
    suspended->suspend();
    suspended->async([] {});
    Queue::main()->async([] {});
    EXPECT_TRUE(backgroundQueuesAreIdle());
    suspended->resume();
    EXPECT_TRUE(RunLoop::runUntil(backgroundQueuesAreIdle));
}

TEST_F(QueueTest, SuspendIsCountedOnEveryKindOfQueue) {
    struct Case {
        const char* name;
        std::shared_ptr<Queue> queue;
    };

    const Case cases[] = {
            {"serial", Queue::serial("test.serial")},
            {"concurrent", Queue::concurrent("test.concurrent")},
            {"main", Queue::main()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> ran{false};
        c.queue->suspend();
        c.queue->suspend();
        c.queue->async([&] { ran = true; });
        c.queue->resume();
        EXPECT_TRUE(c.queue->isSuspended());
        RunLoop::runUntilIdle();
        EXPECT_FALSE(ran);
        c.queue->resume();
        EXPECT_FALSE(c.queue->isSuspended());
        EXPECT_TRUE(RunLoop::runUntil([&] { return ran.load(); }));
        c.queue->resume();  // unbalanced: ignored with a warning
        EXPECT_FALSE(c.queue->isSuspended());
    }
}

TEST_F(QueueTest, DelayedBlocksOnAWorkerQueueFollowTheManualClock) {
    auto queue = Queue::serial("test.delayed");
    std::atomic<int> ran{0};
    queue->asyncAfter(2, [&] { ++ran; });
    clock().advance(1.5);
    EXPECT_EQ(queue->sync([&] { return ran.load(); }), 0);
    clock().advance(0.5);
    EXPECT_EQ(queue->sync([&] { return ran.load(); }), 1);  // posted before the sync
}

TEST_F(QueueTest, CurrentNamesTheInnermostQueue) {
    auto outer = Queue::serial("test.outer");
    auto inner = Queue::serial("test.inner");
    EXPECT_EQ(Queue::current(), Queue::main());
    EXPECT_TRUE(isMainThread());

    std::string seen;
    outer->sync([&] {
        inner->sync([&] {
            seen = Queue::current()->label();
            EXPECT_TRUE(outer->isCurrent());
            EXPECT_TRUE(inner->isCurrent());
        });
    });
    EXPECT_EQ(seen, "test.inner");

    std::atomic<bool> done{false};
    bool onMain = true;
    outer->async([&] {
        onMain = isMainThread() || Queue::main()->isCurrent();
        done = true;
    });
    ASSERT_TRUE(RunLoop::runUntil([&] { return done.load(); }));
    EXPECT_FALSE(onMain);
}

// The threads of this process, as the kernel lists them.
std::ptrdiff_t processThreads() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator());
}

TEST_F(QueueTest, SerialQueuesShareTheBoundedPoolAndHoldNoThreadsWhenIdle) {
    constexpr int kQueues = 300;
    const auto before = processThreads();
    std::vector<std::shared_ptr<Queue>> queues;
    std::latch release(1);
    std::atomic<int> finished{0};
    for (int i = 0; i < kQueues; ++i) {
        queues.push_back(Queue::serial("test.many"));
        // Every block waits until all are queued, so each pool thread stays busy and a new
        // block can only be taken by a new thread.
        queues.back()->async([&] {
            release.wait();
            ++finished;
        });
    }
    const auto busy = processThreads();
    release.count_down();
    ASSERT_TRUE(RunLoop::runUntil([&] { return finished == kQueues; }));
    const auto idle = processThreads();

    // A few threads of the runtime's own (sanitizer helpers) may start meanwhile; one thread per
    // queue would add 300.
    constexpr std::ptrdiff_t kUnrelatedThreads = 4;
    const auto bound = static_cast<std::ptrdiff_t>(internal::ThreadPool::kMaxThreads);
    EXPECT_LE(busy - before, bound + kUnrelatedThreads);
    EXPECT_LE(idle - before, bound + kUnrelatedThreads);
}

TEST_F(QueueTest, RejectsANaNDelay) {
    EXPECT_THROW(Queue::main()->asyncAfter(std::nan(""), [] {}), std::invalid_argument);
    EXPECT_THROW(Queue::global()->asyncAfter(std::nan(""), [] {}), std::invalid_argument);
}

TEST_F(QueueTest, SyncOntoTheQueueYouAreOnAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Queue::main()->sync([] {}), "main queue from the main thread would deadlock");
    EXPECT_DEATH(
            {
                auto a = Queue::serial("test.a");
                auto b = Queue::serial("test.b");
                a->sync([&] { b->sync([&] { a->sync([] {}); }); });
            },
            "serial queue 'test.a' from a block running on it would deadlock");
}

// At process exit the pool stops. Blocks queued after that can never run; a serial queue that kept
// them would keep alive what they hold, often the queue's own owner, and a sync caller would wait.
TEST_F(QueueTest, AfterThePoolStopsQueuedBlocksAreReleasedAndSyncStillReturns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
            {
                internal::ThreadPool::instance().shutdown();
                struct Owner {
                    std::shared_ptr<Queue> serial = Queue::serial("test.owned.serial");
                    std::shared_ptr<Queue> concurrent = Queue::concurrent("test.owned.concurrent");
                };
                auto owner = std::make_shared<Owner>();
                const std::weak_ptr<Owner> watch = owner;
                owner->serial->async([owner] {});
                owner->concurrent->async([owner] {});
                const auto serial = owner->serial;
                owner.reset();
                if (!watch.expired()) {
                    std::_Exit(1);
                }
                auto synced = std::async(std::launch::async, [&] { serial->sync([] {}); });
                std::_Exit(synced.wait_for(std::chrono::seconds(5)) == std::future_status::ready
                                   ? 0
                                   : 2);
            },
            ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pelmar::dispatch
