#pragma once

#include <string_view>

// TokenCheck: whether a service token may enter a URL path or a file name: not empty, not "." or
// "..", and only the characters A-Z a-z 0-9 . _ ~ -. Anything else could address another resource
// ("x/..", "a?b") or another file.
// Ownership: free function; no state.
// Threads: thread-safe.
// Errors: none.

namespace pelmar::core::internal {

inline bool isSafeToken(std::string_view token) {
    if (token.empty() || token == "." || token == "..") {
        return false;
    }
    for (const char c : token) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                          || c == '.' || c == '_' || c == '~' || c == '-';
        if (!safe) {
            return false;
        }
    }
    return true;
}

}  // namespace pelmar::core::internal
