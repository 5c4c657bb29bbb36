#include "pelmar/platform/dispatch/LateGate.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/SteadyClock.h"

namespace pelmar::dispatch {
namespace {

class LateGateTest : public ::testing::Test {
protected:
    void TearDown() override { setClock(nullptr); }
};

TEST_F(LateGateTest, UnderAManualClockWorkOfOneInstantQueuesAndWorkLeftWhenTimeMovesIsLate) {
    auto manual = std::make_shared<ManualClock>();
    setClock(manual);
    LateGate gate(3);
    EXPECT_TRUE(gate.tryAdmit());
    EXPECT_TRUE(gate.tryAdmit());
    EXPECT_TRUE(gate.tryAdmit());
    EXPECT_FALSE(gate.tryAdmit()) << "full";
    manual->advance(1.0 / 30);
    gate.finish();
    EXPECT_FALSE(gate.tryAdmit()) << "two items of an earlier instant still wait";
    gate.finish();
    gate.finish();
    EXPECT_TRUE(gate.tryAdmit());
    EXPECT_EQ(gate.inFlight(), 1u);
}

TEST_F(LateGateTest, UnderTheSteadyClockABusyConsumerDropsTheNextItem) {
    setClock(std::make_shared<SteadyClock>());
    LateGate gate(8);
    EXPECT_TRUE(gate.tryAdmit());
    EXPECT_FALSE(gate.tryAdmit());
    gate.finish();
    EXPECT_TRUE(gate.tryAdmit());
}

TEST_F(LateGateTest, BlockingProducerWaitsOnlyWhileTheClockStandsStill) {
    auto manual = std::make_shared<ManualClock>();
    setClock(manual);
    std::mutex mutex;
    std::condition_variable changed;
    bool room = false;
    std::thread consumer([&] {
        std::lock_guard lock(mutex);
        room = true;
        changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(waitWhileClockStands(
                lock, changed, [&] { return room; }, 20));
    }
    consumer.join();

    // Time moves while the producer waits: the consumer is late, the producer stops waiting.
    room = false;
    bool moved = false;
    {
        std::unique_lock lock(mutex);
        EXPECT_FALSE(waitWhileClockStands(
                lock, changed,
                [&] {
                    if (!moved) {
                        manual->advance(1);
                        moved = true;
                    }
                    return room;
                },
                20));
    }

    setClock(std::make_shared<SteadyClock>());
    std::unique_lock lock(mutex);
    EXPECT_FALSE(waitWhileClockStands(
            lock, changed, [&] { return room; }, 20));
}

}  // namespace
}  // namespace pelmar::dispatch
