#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

#include <utility>

#include "pelmar/platform/dispatch/internal/MainQueue.h"

namespace pelmar::dispatch::test {

void resetMainLoop(std::shared_ptr<Clock> clock) {
    internal::MainQueue::instance().resetForTesting();
    setClock(std::move(clock));
}

void MainLoopFixture::SetUp() {
    clock_ = std::make_shared<ManualClock>();
    resetMainLoop(clock_);
}

void MainLoopFixture::TearDown() {
    resetMainLoop(nullptr);
}

}  // namespace pelmar::dispatch::test
