#include "testing/Matchers.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace pelmar::test {
namespace {

using ::testing::Not;

TEST(MatchersTest, IsErrorChecksDomainCodeAndText) {
    const Error error{"pelmar.file", 2, "cannot open a: No such file or directory"};
    EXPECT_THAT(error, IsError("pelmar.file", 2));
    EXPECT_THAT(error, IsError("pelmar.file", 2, "cannot open a: No such file or directory"));
    EXPECT_THAT(error, Not(IsError("pelmar.file", 3)));
    EXPECT_THAT(error, Not(IsError("pelmar.net", 2)));
    EXPECT_THAT(error, Not(IsError("pelmar.file", 2, "cannot open a")));
    EXPECT_THAT(std::optional<Error>(error), IsError("pelmar.file", 2));
    EXPECT_THAT(std::optional<Error>(), Not(IsError("pelmar.file", 2)));
}

TEST(MatchersTest, ThrowsWithTextNeedsTheExactText) {
    const auto throws = [] { throw std::runtime_error("bad chunk"); };
    EXPECT_THAT(throws, ThrowsWithText("bad chunk"));
    EXPECT_THAT(throws, Not(ThrowsWithText("bad")));
    EXPECT_THAT([] {}, Not(ThrowsWithText("bad chunk")));
    EXPECT_EQ(ErrorOf(throws), "bad chunk");
    EXPECT_EQ(ErrorOf([] {}), "no error");
}

}  // namespace
}  // namespace pelmar::test
