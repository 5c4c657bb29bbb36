#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"

#include <cmath>
#include <limits>

#include "pelmar/platform/net/URLError.h"

namespace pelmar {

bool PelmarRequestExponentialRetryStrategy::retriableError(const Error& error) {
    if (error.domain == kPelmarURLErrorDomain) {
        return error.code > 499;
    }
    if (error.domain == net::kURLErrorDomain
        && (error.code == net::kURLErrorBadURL || error.code == net::kURLErrorUnsupportedURL
            || error.code == net::kURLErrorFileDoesNotExist
            || error.code == net::kURLErrorNoPermissionsToReadFile)) {
        return false;  // the same request meets the same answer
    }
    return error.domain != kPelmarRemoteImageManagerErrorDomain;
}

bool PelmarRequestExponentialRetryStrategy::shouldRetryWithError(
        const std::optional<Error>& error) {
    return error && retriableError(*error) && retryCount_ < retryMaxCount_;
}

int32_t PelmarRequestExponentialRetryStrategy::nextDelay() {
    const float delay = std::pow(static_cast<float>(delayBase_), static_cast<float>(retryCount_));
    // Truncation of a value past the 32-bit range is undefined; such a wait is "forever".
    if (!(delay < static_cast<float>(std::numeric_limits<int32_t>::max()))) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(delay);
}

}  // namespace pelmar
