#include "pelmar/platform/foundation/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace pelmar::foundation {
namespace {

TEST(LogTest, WritesLinesToStandardErrorAndToLiveCaptures) {
    Log::write("before any capture");
    Log::Capture outer;
    ::testing::internal::CaptureStderr();
    Log::write("first");
    {
        Log::Capture inner;
        Log::write("second");
        EXPECT_EQ(inner.lines(), std::vector<std::string>{"second"});
    }
    Log::write("third");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "first\nsecond\nthird\n");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(outer.contains("eco"));
    EXPECT_FALSE(outer.contains("before"));
    outer.clear();
    EXPECT_TRUE(outer.lines().empty());
}

TEST(LogTest, LinesFromManyThreadsStayWhole) {
    Log::Capture capture;
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                Log::write("thread " + std::to_string(t) + " line " + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string written = ::testing::internal::GetCapturedStderr();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines) {
        EXPECT_NE(written.find(line + "\n"), std::string::npos) << line;
    }
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 200);
}

}  // namespace
}  // namespace pelmar::foundation
