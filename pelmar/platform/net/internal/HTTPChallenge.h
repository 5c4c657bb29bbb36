#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/net/URLAuthenticationChallenge.h"
#include "pelmar/platform/net/URLRequest.h"

// HTTPChallenge: reads the WWW-Authenticate fields of a 401 answer for the schemes the transport
// can answer (Basic and Digest, RFC 7617 and RFC 7616) and their realm.
// Ownership: a free function over borrowed fields.
// Threads: thread-safe.
// Errors: none; fields of other schemes, or malformed ones, are skipped.
// Limits: only the first kMaxChallengeFieldBytes of a field are read.

namespace pelmar::net::internal {

inline constexpr std::size_t kMaxChallengeFieldBytes = 8192;

struct HTTPChallenge {
    URLAuthenticationMethod method = URLAuthenticationMethod::HTTPBasic;
    std::string realm;
};

// The strongest challenge offered (Digest before Basic), or none.
std::optional<HTTPChallenge> httpChallengeOf(const HTTPHeaderFields& fields);

}  // namespace pelmar::net::internal
