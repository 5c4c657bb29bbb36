#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/HTTPURLResponse.h"

// UploadRequests: what the upload engine's media API and its three-step upload share: the
// per-kind names, its errors, and the checks made before a request goes out.
// Ownership: free functions and a value type; no state.
// Threads: thread-safe.
// Errors: builds kUploadErrorDomain errors; fails in no other way.

namespace pelmar {
class PelmarConnect;
}  // namespace pelmar

namespace pelmar::core::internal {

// What differs between the three media kinds.
struct UploadFamily {
    std::string_view collection;  // "/videos"
    std::string_view fileName;    // "/video.mp4"
    std::string_view resourceKey;
    std::string_view streamKey;
    std::string_view submitSuffix;
};

UploadFamily familyOf(Media_Type type);

Error uploadError(UploadErrorCode code, std::string message);

Error noServiceError();

// Why a request cannot be built: the facade has ended (null `client`), or the app token or one
// of `tokens` would not be safe in a URL path. None when the request can go out.
std::optional<Error> requestRefusal(const std::shared_ptr<PelmarConnect>& client,
                                    const std::optional<std::string>& app,
                                    const std::vector<std::string_view>& tokens);

// A 2xx answer.
bool isSuccess(const std::shared_ptr<const net::HTTPURLResponse>& response);

// Why a step of an upload (the create request, the storage transfer) failed, in the order the
// engine judges it: a cancel, the transport's error, a non-2xx answer from `what`. None when the
// upload may go on.
std::optional<Error> stepFailure(bool cancelled,
                                 const std::optional<Error>& error,
                                 const std::shared_ptr<const net::HTTPURLResponse>& response,
                                 std::string_view what);

// "<what> answered HTTP <status>" (0 without a response).
Error httpStatusError(std::string_view what,
                      const std::shared_ptr<const net::HTTPURLResponse>& response);

}  // namespace pelmar::core::internal
