#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/ManualClock.h"

namespace pelmar::dispatch::test {

// Puts the main run loop back to a clean state: drops every block queued on the main queue and
// every main-loop timer and delayed block (timers made before become invalid), clears a
// suspension of the main queue, forgets which thread is the main thread, then installs `clock`
// (null: a SteadyClock). Call it while no thread waits in a sync onto the main queue.
void resetMainLoop(std::shared_ptr<Clock> clock);

// MainLoopFixture: a test fixture that starts every test with a clean main loop and a fresh
// ManualClock at 0 s (wall time ManualClock::kDefaultWallStart), and cleans up after it,
// restoring a SteadyClock.
// Ownership: owns the manual clock it installs.
// Threads: main thread only (the test's thread becomes the main thread).
// Errors: none.
class MainLoopFixture : public ::testing::Test {
protected:
    void SetUp() override;

    void TearDown() override;

    ManualClock& clock() { return *clock_; }

    std::shared_ptr<ManualClock> clock_;
};

}  // namespace pelmar::dispatch::test
