#include "pelmar/platform/app/NotificationRequest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace pelmar::app {
namespace {

TEST(NotificationRequestTest, LocalDateComponentsFollowTheTimeZone) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(DateComponents::local(1700000000.75), (DateComponents{2023, 11, 14, 22, 13, 20}));
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    EXPECT_EQ(DateComponents::local(1700000000.0), (DateComponents{2023, 11, 15, 7, 13, 20}));
    ::unsetenv("TZ");
    ::tzset();

    EXPECT_EQ(DateComponents::local(std::nan("")), std::nullopt);
    EXPECT_EQ(DateComponents::local(std::numeric_limits<double>::infinity()), std::nullopt);
}

}  // namespace
}  // namespace pelmar::app
