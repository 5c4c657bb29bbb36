#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"

#include <gtest/gtest.h>

#include "pelmar/platform/net/URLError.h"

namespace pelmar {
namespace {

TEST(PelmarRequestExponentialRetryStrategyTest, RetriesServerAndTransportErrorsOnly) {
    const struct {
        const char* name;
        Error error;
        bool retriable;
    } cases[] = {
            {"http404", {std::string(kPelmarURLErrorDomain), 404, ""}, false},
            {"http499", {std::string(kPelmarURLErrorDomain), 499, ""}, false},
            {"http500", {std::string(kPelmarURLErrorDomain), 500, ""}, true},
            {"http503", {std::string(kPelmarURLErrorDomain), 503, ""}, true},
            {"timeout", {std::string(net::kURLErrorDomain), net::kURLErrorTimedOut, ""}, true},
            {"hostNotFound",
             {std::string(net::kURLErrorDomain), net::kURLErrorCannotFindHost, ""},
             true},
            {"unparsableURL", {std::string(net::kURLErrorDomain), net::kURLErrorBadURL, ""}, false},
            {"unsupportedURL",
             {std::string(net::kURLErrorDomain), net::kURLErrorUnsupportedURL, ""},
             false},
            {"missingFile",
             {std::string(net::kURLErrorDomain), net::kURLErrorFileDoesNotExist, ""},
             false},
            {"unreadableFile",
             {std::string(net::kURLErrorDomain), net::kURLErrorNoPermissionsToReadFile, ""},
             false},
            {"emptyDownload", {std::string(kPelmarRemoteImageManagerErrorDomain), 5, ""}, false},
            {"otherDomain", {"pelmar.file", 2, ""}, true},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PelmarRequestExponentialRetryStrategy::retriableError(c.error), c.retriable);
        PelmarRequestExponentialRetryStrategy strategy(3, 4);
        EXPECT_EQ(strategy.shouldRetryWithError(c.error), c.retriable);
    }
}

TEST(PelmarRequestExponentialRetryStrategyTest, WaitsGrowByTheBaseUntilTheRetriesRunOut) {
    PelmarRequestExponentialRetryStrategy strategy(3, 4);
    const Error serverError{std::string(kPelmarURLErrorDomain), 503, ""};
    EXPECT_FALSE(strategy.shouldRetryWithError(std::nullopt));
    EXPECT_EQ(strategy.nextDelay(), 1);
    std::vector<int32_t> delays;
    while (strategy.shouldRetryWithError(serverError)) {
        strategy.incrementRetryCount();
        delays.push_back(strategy.nextDelay());
    }
    EXPECT_EQ(delays, (std::vector<int32_t>{4, 16, 64}));
    EXPECT_EQ(strategy.numberOfRetries(), 3);

    PelmarRequestExponentialRetryStrategy huge(100, 1000);
    for (int i = 0; i < 20; ++i) {
        huge.incrementRetryCount();
    }
    EXPECT_EQ(huge.nextDelay(), INT32_MAX);
}

}  // namespace
}  // namespace pelmar
