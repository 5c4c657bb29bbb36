#pragma once

#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"

// URL loading errors: the domain and codes with which URL session tasks fail.
// Ownership: free functions returning plain Error values.
// Threads: thread-safe.
// Errors: not applicable.

namespace pelmar::net {

// Every failure of a URL session task carries this domain and one of the codes below.
inline constexpr std::string_view kURLErrorDomain = "pelmar.net";

enum URLErrorCode : long {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    // A request marked URLRequest::redirectsWithinOriginOnly was redirected to another scheme,
    // host or port; the redirect was not followed.
    kURLErrorRedirectToAnotherOrigin = -1010,
    kURLErrorBadServerResponse = -1011,
    // A request the session refuses to send (a header holding a line break, for example).
    kURLErrorBadRequest = -1015,
    // The request body ended before, or ran past, the byte count announced for it.
    kURLErrorRequestBodyStreamExhausted = -1021,
    kURLErrorFileDoesNotExist = -1100,
    kURLErrorNoPermissionsToReadFile = -1102,
    // The answer is larger than URLSessionConfiguration::maximumResponseBytes.
    kURLErrorDataLengthExceedsMaximum = -1103,
    kURLErrorSecureConnectionFailed = -1200,
    kURLErrorServerCertificateUntrusted = -1202,
    kURLErrorCannotCreateFile = -3000,
    kURLErrorCannotWriteToFile = -3003,
};

Error urlError(URLErrorCode code, std::string message);

}  // namespace pelmar::net
