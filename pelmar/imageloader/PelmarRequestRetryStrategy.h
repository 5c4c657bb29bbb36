#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"

namespace pelmar {

// Errors of HTTP statuses of 400 and above (code = status), made by the URL session manager.
inline constexpr std::string_view kPelmarURLErrorDomain = "PelmarURLErrorDomain";
// Errors of the image manager itself.
inline constexpr std::string_view kPelmarRemoteImageManagerErrorDomain =
        "PelmarRemoteImageManagerErrorDomain";

// PelmarRequestRetryStrategy: decides whether a failed download is tried again and after how
// long.
// Ownership: each download task owns its own strategy.
// Threads: thread-compatible; used under its download task's lock.
// Errors: none.
class PelmarRequestRetryStrategy {
public:
    virtual ~PelmarRequestRetryStrategy() = default;

    virtual bool shouldRetryWithError(const std::optional<Error>& error) = 0;

    // Seconds to wait before the next try.
    virtual int32_t nextDelay() = 0;

    virtual void incrementRetryCount() = 0;

    virtual int32_t numberOfRetries() = 0;
};

// PelmarRequestExponentialRetryStrategy: retries a retriable error up to retryMaxCount times,
// waiting delayBase ^ retries seconds (4, 16, 64 with base 4).
// Ownership: as PelmarRequestRetryStrategy.
// Threads: thread-compatible.
// Errors: none.
class PelmarRequestExponentialRetryStrategy final : public PelmarRequestRetryStrategy {
public:
    PelmarRequestExponentialRetryStrategy(int32_t retryMaxCount, int32_t delayBase)
        : retryMaxCount_(retryMaxCount), delayBase_(delayBase) {}

    // Server errors (PelmarURLErrorDomain codes above 499) and transport errors are retriable;
    // other HTTP statuses, a URL that cannot be parsed or is unsupported, a missing or unreadable
    // local file and the image manager's own errors are not.
    static bool retriableError(const Error& error);

    bool shouldRetryWithError(const std::optional<Error>& error) override;

    // delayBase ^ retryCount in single precision, truncated.
    int32_t nextDelay() override;

    void incrementRetryCount() override { ++retryCount_; }

    int32_t numberOfRetries() override { return retryCount_; }

private:
    int32_t retryMaxCount_;
    int32_t retryCount_ = 0;
    int32_t delayBase_;
};

}  // namespace pelmar
