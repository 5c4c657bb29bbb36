#include "testing/Waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::test {
namespace {

constexpr std::chrono::milliseconds kNoPatience{0};

using WaitsTest = dispatch::test::MainLoopFixture;

TEST_F(WaitsTest, WaitUntilSeesWhatAnotherThreadOrTheMainQueueMakesTrue) {
    std::atomic<bool> set{false};
    std::thread setter([&] { set = true; });
    EXPECT_TRUE(waitUntil([&] { return set.load(); }));
    setter.join();

    // Only a main-queue block makes this true, so only a wait that runs the loop sees it.
    bool ran = false;
    std::thread poster([&] { dispatch::Queue::main()->async([&] { ran = true; }); });
    poster.join();
    EXPECT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return ran; }));
}

TEST_F(WaitsTest, WaitUntilGivesUpAtItsPatienceWithTheConditionsLastValue) {
    int checks = 0;
    EXPECT_FALSE(waitUntil(
            [&] {
                ++checks;
                return false;
            },
            kNoPatience));
    EXPECT_GE(checks, 1);
    EXPECT_FALSE(waitUntil(
            WhileWaiting::RunMainLoop, [] { return false; }, kNoPatience));
}

TEST_F(WaitsTest, BackgroundCallTellsAHeldCallFromOneThatReturned) {
    std::promise<void> release;
    BackgroundCall held([gate = release.get_future().share()] { gate.wait(); });
    EXPECT_FALSE(held.returnsWithin(kNoPatience));
    release.set_value();
    EXPECT_TRUE(held.returnsWithin());

    EXPECT_TRUE(returnsFromAnotherThread([] { throw std::runtime_error("thrown"); }))
            << "a call that throws has returned";
}

TEST_F(WaitsTest, OutcomeCopiesShareOneResultSetOnce) {
    Outcome<std::optional<std::string>> outcome;
    EXPECT_FALSE(outcome.arrives(kNoPatience));
    std::thread completer([copy = outcome] { copy.set("done"); });
    EXPECT_EQ(outcome.get(), "done");
    EXPECT_EQ(outcome.get(), "done") << "get may be asked again";
    completer.join();
    EXPECT_THROW(outcome.set("twice"), std::future_error);
}

}  // namespace
}  // namespace pelmar::test
