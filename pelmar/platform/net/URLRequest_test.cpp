#include "pelmar/platform/net/URLRequest.h"

#include <gtest/gtest.h>

namespace pelmar::net {
namespace {

TEST(URLRequestTest, SetValueReplacesAFieldOfAnyCaseInPlace) {
    URLRequest request("http://127.0.0.1/x");
    request.setValue("text/plain", "Content-Type");
    request.setValue("1", "X-One");
    request.setValue("application/json", "content-type");

    ASSERT_EQ(request.allHTTPHeaderFields.size(), 2u);
    EXPECT_EQ(request.allHTTPHeaderFields[0].first, "Content-Type");
    EXPECT_EQ(request.allHTTPHeaderFields[0].second, "application/json");
    EXPECT_EQ(request.value("CONTENT-TYPE"), "application/json");
    EXPECT_EQ(request.value("X-Two"), std::nullopt);
}

}  // namespace
}  // namespace pelmar::net
