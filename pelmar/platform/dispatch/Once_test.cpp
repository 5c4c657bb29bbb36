#include "pelmar/platform/dispatch/Once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pelmar::dispatch {
namespace {

TEST(OnceTest, RunsOnceForManyThreadsAndAgainAfterAThrow) {
    Once once;
    std::atomic<int> attempts{0};
    EXPECT_THROW(once.call([&] {
        ++attempts;
        throw std::runtime_error("first try fails");
    }),
                 std::runtime_error);

    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
        callers.emplace_back([&] { once.call([&] { ++attempts; }); });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(attempts, 2);
}

}  // namespace
}  // namespace pelmar::dispatch
