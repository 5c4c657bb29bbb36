#include "pelmar/platform/app/UserNotificationCenter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "testing/Matchers.h"

namespace pelmar::app {
namespace {

class UserNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override { center().removeAllPendingNotificationRequests(); }

    void TearDown() override { center().removeAllPendingNotificationRequests(); }

    static UserNotificationCenter& center() { return UserNotificationCenter::current(); }

    static std::optional<Error> add(const std::string& identifier, const std::string& title) {
        std::optional<Error> result;
        bool called = false;
        NotificationRequest request;
        request.identifier = identifier;
        request.content.title = title;
        center().add(request, [&](const std::optional<Error>& error) {
            called = true;
            result = error;
        });
        EXPECT_TRUE(called);
        return result;
    }
};

TEST_F(UserNotificationCenterTest, KeepsPendingRequestsReplacingSameIdentifier) {
    EXPECT_FALSE(add("a", "first"));
    EXPECT_FALSE(add("b", "second"));
    EXPECT_FALSE(add("a", "first again"));

    auto pending = center().pendingNotificationRequests();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].identifier, "a");
    EXPECT_EQ(pending[0].content.title, "first again");
    EXPECT_EQ(pending[1].identifier, "b");

    center().removePendingNotificationRequests({"a", "zzz"});
    pending = center().pendingNotificationRequests();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].identifier, "b");
}

TEST_F(UserNotificationCenterTest, RefusesRequestsWithoutIdentifierOrBeyondTheCap) {
    auto error = add("", "x");
    EXPECT_THAT(error,
                test::IsError(kUserNotificationErrorDomain, kUserNotificationErrorInvalidRequest));

    for (size_t i = 0; i < UserNotificationCenter::kMaxPendingRequests; ++i) {
        ASSERT_FALSE(add("n" + std::to_string(i), "x"));
    }
    error = add("one too many", "x");
    EXPECT_THAT(error,
                test::IsError(kUserNotificationErrorDomain, kUserNotificationErrorTooManyPending));
    EXPECT_FALSE(add("n0", "replacing is still fine"));
    EXPECT_EQ(center().pendingNotificationRequests().size(),
              UserNotificationCenter::kMaxPendingRequests);
}

}  // namespace
}  // namespace pelmar::app
