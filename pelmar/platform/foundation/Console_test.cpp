#include "pelmar/platform/foundation/Console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelmar/platform/foundation/Log.h"

namespace pelmar::foundation {
namespace {

TEST(ConsoleTest, PrintsToStandardOutputNotTheLog) {
    Console::Capture console;
    Log::Capture log;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Console::print("Copied file a to temporary file b");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Copied file a to temporary file b\n");
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Copied file a to temporary file b"});
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace pelmar::foundation
