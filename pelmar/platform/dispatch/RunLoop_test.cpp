#include "pelmar/platform/dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::dispatch {
namespace {

using RunLoopTest = test::MainLoopFixture;

TEST_F(RunLoopTest, MainAsyncFromTheMainThreadRunsOnALaterTurn) {
    std::vector<std::string> log;
    Queue::main()->async([&] {
        log.push_back("first");
        Queue::main()->async([&] { log.push_back("posted by first"); });
        log.push_back("first done");
    });
    Queue::main()->async([&] { log.push_back("second"); });

    EXPECT_TRUE(log.empty()) << "async never runs inline";
    EXPECT_TRUE(RunLoop::runOnce());
    EXPECT_EQ(log, (std::vector<std::string>{"first", "first done", "second"}));
    EXPECT_TRUE(RunLoop::runOnce());
    EXPECT_EQ(log.back(), "posted by first");
    EXPECT_FALSE(RunLoop::runOnce());
}

TEST_F(RunLoopTest, MainQueueKeepsEachPostersOrder) {
    constexpr int kThreads = 4;
    constexpr int kBlocks = 200;
    std::vector<std::pair<int, int>> seen;  // main thread only
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([t, &seen] {
            for (int i = 0; i < kBlocks; ++i) {
                Queue::main()->async([t, i, &seen] { seen.emplace_back(t, i); });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    ASSERT_TRUE(RunLoop::runUntil([&] { return seen.size() == kThreads * kBlocks; }));

    std::vector<int> next(kThreads, 0);
    for (const auto& [thread, index] : seen) {
        ASSERT_EQ(index, next[thread]) << "blocks of poster " << thread << " out of order";
        ++next[thread];
    }
}

TEST_F(RunLoopTest, RunUntilGivesUpAfterTheTimeoutWithoutMovingTheClock) {
    EXPECT_FALSE(RunLoop::runUntil([] { return false; }, 0.02));
    EXPECT_EQ(clock().now(), 0.0);
}

TEST_F(RunLoopTest, RunUntilSeesAPredicateSetByAnotherThread) {
    std::atomic<bool> done{false};
    std::thread worker([&] { done = true; });  // posts nothing to the main queue
    EXPECT_TRUE(RunLoop::runUntil([&] { return done.load(); }));
    worker.join();
}

TEST_F(RunLoopTest, MainSyncFromAnotherThreadRunsOnTheMainThread) {
    std::atomic<bool> done{false};
    bool ranOnMain = false;
    int answer = 0;
    std::thread worker([&] {
        answer = Queue::main()->sync([&] {
            ranOnMain = isMainThread() && Queue::main()->isCurrent();
            return 42;
        });
        done = true;
    });
    ASSERT_TRUE(RunLoop::runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(answer, 42);
}

TEST_F(RunLoopTest, AdvanceRunsDelayedBlocksInTimeOrderAtTheirOwnTime) {
    std::vector<std::pair<std::string, double>> log;
    auto record = [&](std::string name) {
        return [this, &log, name] { log.emplace_back(name, clock().now()); };
    };
    Queue::main()->asyncAfter(3, record("three"));
    Queue::main()->asyncAfter(1, [&, record] {
        record("one")();
        Queue::main()->asyncAfter(0.5, record("one and a half"));
    });
    Queue::main()->asyncAfter(2, record("two"));
    Queue::main()->asyncAfter(2, record("two, posted later"));

    RunLoop::advance(2.5);
    EXPECT_EQ(log, (std::vector<std::pair<std::string, double>>{{"one", 1.0},
                                                                {"one and a half", 1.5},
                                                                {"two", 2.0},
                                                                {"two, posted later", 2.0}}));
    EXPECT_EQ(clock().now(), 2.5);

    RunLoop::advance(0.5);
    EXPECT_EQ(log.back(), (std::pair<std::string, double>{"three", 3.0}));
}

TEST_F(RunLoopTest, AdvanceMeetsDeadlinesBuiltFromDecimalSteps) {
    int fired = 0;
    Queue::main()->asyncAfter(0.1 + 0.2, [&] { ++fired; });  // 0.30000000000000004
    RunLoop::advance(0.3);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, RunForWithAManualClockAdvancesIt) {
    bool ran = false;
    Queue::main()->asyncAfter(4, [&] { ran = true; });
    RunLoop::runFor(4);
    EXPECT_TRUE(ran);
    EXPECT_EQ(clock().now(), 4.0);
}

TEST_F(RunLoopTest, RejectsNegativeAndNaNDurations) {
    EXPECT_THROW(RunLoop::advance(-1), std::invalid_argument);
    EXPECT_THROW(RunLoop::runFor(std::nan("")), std::invalid_argument);
    EXPECT_THROW(RunLoop::runUntil([] { return true; }, -1), std::invalid_argument);
}

TEST_F(RunLoopTest, AdvanceRefusesAnInfiniteStepOfAManualClock) {
    // A repeating timer always has a next deadline, so moving to the end of time never ends.
    int fires = 0;
    auto timer = Timer::scheduled(1.0, true, [&] { ++fires; });
    EXPECT_THROW(RunLoop::advance(INFINITY), std::invalid_argument);
    EXPECT_THROW(RunLoop::runFor(INFINITY), std::invalid_argument);
    EXPECT_EQ(fires, 0);
    EXPECT_EQ(clock().now(), 0.0);
    timer->invalidate();
}

TEST_F(RunLoopTest, ResetDropsQueuedBlocksTimersAndDelayedBlocks) {
    bool ran = false;
    Queue::main()->async([&] { ran = true; });
    Queue::main()->asyncAfter(1, [&] { ran = true; });
    auto timer = Timer::scheduled(1, true, [&] { ran = true; });

    auto fresh = std::make_shared<ManualClock>();
    test::resetMainLoop(fresh);
    RunLoop::advance(5);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(RunLoopTest, RunningTheLoopFromASecondThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RunLoop::runOnce();  // the test thread is the main thread now
    EXPECT_DEATH(std::thread([] { RunLoop::runOnce(); }).join(), "only the main thread");
}

}  // namespace
}  // namespace pelmar::dispatch
